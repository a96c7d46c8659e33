// The settings store as a .reg file: what a first start creates, which stored values are
// loaded, what a save keeps, and a store that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "temp_dir.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace kestrel {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kEmptyKey =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n\r\n";

std::string storeWith(const std::string& values) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n" + values + "\r\n";
}

SettingsTexts defaults() {
    SettingsTexts t;
    std::strcpy(t.comPort, "COM1");
    return t;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir / "config/Norvald/Kestrel.reg";
};

TEST_F(SettingsStoreTest, FirstLoadCreatesTheFoldersAndTheEmptyKey) {
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_EQ(readFile(path), kEmptyKey);
    EXPECT_STREQ(texts.comPort, "COM1");
    EXPECT_STREQ(texts.baudRate, "");
    EXPECT_STREQ(texts.firmwareFile, "");
    struct stat st;
    ASSERT_EQ(::stat((dir / "config/Norvald").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Only the store itself is left in the folder: no temporary file.
    EXPECT_EQ(test::listFolder(dir / "config/Norvald"), "Kestrel.reg");
}

TEST_F(SettingsStoreTest, AnEmptyFileGetsTheKeyAndAnExportWithoutItGetsItAdded) {
    writeFile(path, "");
    RegFileKey key(path);
    ASSERT_TRUE(key.open());
    key.close();
    EXPECT_EQ(readFile(path), kEmptyKey);

    writeFile(path, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n");
    ASSERT_TRUE(key.open());
    key.close();
    EXPECT_EQ(readFile(path), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n" +
                                  kEmptyKey.substr(12));
}

TEST_F(SettingsStoreTest, StoredTextsReplaceTheFieldsAsTheyAre) {
    writeFile(path, storeWith("\"FirmwareFile\"=\"C:\\\\fw\\\\a.usf\"\r\n"
                              "\"COMPort\"=\"COM12\"\r\n"
                              "\"BaudRate\"=\" 9600\"\r\n"));
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.firmwareFile, "C:\\fw\\a.usf");
    EXPECT_STREQ(texts.comPort, "COM12");   // no check that the port exists
    EXPECT_STREQ(texts.baudRate, " 9600");  // no trimming, no conversion
}

TEST_F(SettingsStoreTest, AnEmptyStoredPortEmptiesTheField) {
    writeFile(path, storeWith("\"COMPort\"=\"\"\r\n"));
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "");
}

TEST_F(SettingsStoreTest, ValuesOf260CharactersOrUnreadableOnesLeaveTheirField) {
    const std::string text259(259, 'p'), text260(260, 'p');
    writeFile(path,
              storeWith("\"FirmwareFile\"=\"" + text259 + "\"\r\n" + "\"COMPort\"=\"" + text260 +
                        "\"\r\n" + "\"BaudRate\"=\"57600\r\n"));  // no closing quote
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    std::strcpy(texts.baudRate, "keep");
    loadSettings(key, &texts);
    EXPECT_EQ(texts.firmwareFile, text259);
    EXPECT_STREQ(texts.comPort, "COM1");
    EXPECT_STREQ(texts.baudRate, "keep");
}

TEST_F(SettingsStoreTest, TheStoredTypeIsNotExamined) {
    // Binary data is read like a string, up to its first NUL; 260 bytes fit, 261 do not.
    std::string hex260, hex261;
    for (int i = 0; i < 259; ++i)
        hex260 += "41,";
    hex261 = hex260 + "41,00";
    hex260 += "00";
    writeFile(path, storeWith("\"COMPort\"=hex:43,4f,4d,37,00,38\r\n"
                              "\"FirmwareFile\"=hex:" +
                              hex260 +
                              "\r\n"
                              "\"BaudRate\"=hex:" +
                              hex261 + "\r\n"));
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "COM7");
    EXPECT_EQ(std::string(texts.firmwareFile), std::string(259, 'A'));
    EXPECT_STREQ(texts.baudRate, "");
}

TEST_F(SettingsStoreTest, SavingWritesAllThreeAndKeepsTheRest) {
    writeFile(path,
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=dword:00000001\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n"
              "\"Window\"=\"left\"\r\n\"FirmwareFile\"=\"old.usf\"\r\n\r\n");
    RegFileKey key(path);
    SettingsTexts texts;
    std::strcpy(texts.comPort, "/dev/ttyUSB0");
    std::strcpy(texts.baudRate, "9600");
    saveSettings(key, texts);  // the firmware-name field is empty (template 130)
    EXPECT_EQ(readFile(path),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=dword:00000001\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n"
              "\"Window\"=\"left\"\r\n"
              "\"FirmwareFile\"=\"\"\r\n"
              "\"COMPort\"=\"/dev/ttyUSB0\"\r\n"
              "\"BaudRate\"=\"9600\"\r\n\r\n");

    SettingsTexts reread = defaults();
    loadSettings(key, &reread);
    EXPECT_STREQ(reread.firmwareFile, "");
    EXPECT_STREQ(reread.comPort, "/dev/ttyUSB0");
    EXPECT_STREQ(reread.baudRate, "9600");
}

TEST_F(SettingsStoreTest, AFileThatIsNotAnExportIsLeftAlone) {
    writeFile(path, "some notes of the user\n");
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "COM1");
    std::strcpy(texts.comPort, "COM9");
    saveSettings(key, texts);
    EXPECT_EQ(readFile(path), "some notes of the user\n");
}

TEST_F(SettingsStoreTest, AFolderThatCannotBeCreatedActsAsAKeyThatCannotBeOpened) {
    // A regular file where a folder should be: creation fails for root as well.
    writeFile(dir / "config", "a file, not a folder");
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "COM1");
    std::strcpy(texts.comPort, "COM9");
    saveSettings(key, texts);  // writes nothing, reports nothing
    EXPECT_EQ(readFile(dir / "config"), "a file, not a folder");
    EXPECT_FALSE(key.open());
}

TEST_F(SettingsStoreTest, AStoreThatIsAFolderCannotBeOpened) {
    test::makeDirectories(path);
    RegFileKey key(path);
    EXPECT_FALSE(key.open());
    SettingsTexts texts = defaults();
    saveSettings(key, texts);
    EXPECT_EQ(test::listFolder(path), "");
}

TEST_F(SettingsStoreTest, AReadOnlyFolderCannotBeWrittenByOthersThanRoot) {
    writeFile(path, storeWith("\"COMPort\"=\"COM4\"\r\n"));
    ::chmod((dir / "config/Norvald").c_str(), 0500);
    RegFileKey key(path);
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    std::strcpy(texts.comPort, "COM9");
    saveSettings(key, texts);
    ::chmod((dir / "config/Norvald").c_str(), 0700);
    if (::geteuid() == 0) {
        // Root writes anywhere: the store opens and works as usual.
        EXPECT_NE(readFile(path).find("\"COMPort\"=\"COM9\""), std::string::npos);
    } else {
        // Neither loaded (the key needs write access) nor written.
        EXPECT_EQ(readFile(path), storeWith("\"COMPort\"=\"COM4\"\r\n"));
    }
}

TEST(SettingsStorePath, FollowsXdgConfigHomeAndFallsBackToHome) {
    {
        test::ScopedEnv config("XDG_CONFIG_HOME", "/x/conf");
        EXPECT_EQ(defaultSettingsPath(), "/x/conf/Norvald/Kestrel.reg");
    }
    test::ScopedEnv home("HOME", "/home/op");
    {
        test::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(defaultSettingsPath(), "/home/op/.config/Norvald/Kestrel.reg");
    }
    {
        // Relative and empty values are to be ignored.
        test::ScopedEnv config("XDG_CONFIG_HOME", "conf");
        EXPECT_EQ(defaultSettingsPath(), "/home/op/.config/Norvald/Kestrel.reg");
        test::ScopedEnv empty("XDG_CONFIG_HOME", "");
        EXPECT_EQ(defaultSettingsPath(), "/home/op/.config/Norvald/Kestrel.reg");
    }
}

}  // namespace
}  // namespace kestrel
