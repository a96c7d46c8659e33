// The settings store as a .reg file: what a first start creates, which stored values are
// loaded, what a save keeps, and a store that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "temp_dir.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace kestrel::test {
namespace {

const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n";
const std::string kEmptyKey = "REGEDIT4\r\n\r\n" + kKeyLine + "\r\n";

std::string storeWith(const std::string& values) {
    return "REGEDIT4\r\n\r\n" + kKeyLine + values + "\r\n";
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir / "config/Norvald/Kestrel.reg";
    RegFileKey key{path};

    // The texts after loading over "COM1" and a rate field showing "kept".
    SettingsTexts load() {
        SettingsTexts texts;
        std::strcpy(texts.comPort, "COM1");
        std::strcpy(texts.baudRate, "kept");
        loadSettings(key, &texts);
        return texts;
    }
    void save(const char* port, const char* rate = "") {
        SettingsTexts texts;  // the firmware-name field is empty (template 130)
        std::strcpy(texts.comPort, port);
        std::strcpy(texts.baudRate, rate);
        saveSettings(key, texts);
    }
};

TEST_F(SettingsStoreTest, FirstLoadCreatesTheFoldersAndTheEmptyKey) {
    const SettingsTexts texts = load();
    EXPECT_EQ(readFile(path), kEmptyKey);
    EXPECT_STREQ(texts.comPort, "COM1");
    EXPECT_STREQ(texts.baudRate, "kept");
    EXPECT_STREQ(texts.firmwareFile, "");
    struct stat st;
    ASSERT_EQ(::stat((dir / "config/Norvald").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(listFolder(dir / "config/Norvald"), "Kestrel.reg");  // no temporary file left

    // An empty file gets the key; an export without it gets it added.
    writeFile(path, "");
    load();
    EXPECT_EQ(readFile(path), kEmptyKey);
    const std::string other = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n";
    writeFile(path, other);
    load();
    EXPECT_EQ(readFile(path), other + kKeyLine + "\r\n");
}

TEST_F(SettingsStoreTest, StoredTextsOfUpTo259CharactersReplaceTheFieldsAsTheyAre) {
    writeFile(path, storeWith("\"FirmwareFile\"=\"C:\\\\fw\\\\a.usf\"\r\n\"COMPort\"=\"COM12\"\r\n"
                              "\"BaudRate\"=\" 9600\"\r\n"));
    SettingsTexts texts = load();
    EXPECT_STREQ(texts.firmwareFile, "C:\\fw\\a.usf");
    EXPECT_STREQ(texts.comPort, "COM12");   // no check that the port exists
    EXPECT_STREQ(texts.baudRate, " 9600");  // no trimming, no conversion
    // 259 characters are loaded, 260 or an unreadable value leave their field; empty is a text.
    writeFile(path,
              storeWith("\"FirmwareFile\"=\"" + std::string(259, 'p') + "\"\r\n\"COMPort\"=\"" +
                        std::string(260, 'p') + "\"\r\n\"BaudRate\"=\"57600\r\n"));
    texts = load();
    EXPECT_EQ(texts.firmwareFile, std::string(259, 'p'));
    EXPECT_STREQ(texts.comPort, "COM1");
    EXPECT_STREQ(texts.baudRate, "kept");  // no closing quote
    writeFile(path, storeWith("\"COMPort\"=\"\"\r\n"));
    EXPECT_STREQ(load().comPort, "");
    // The stored type is not examined: binary data is read up to its first NUL; 260 bytes
    // fit, 261 do not.
    std::string hex259;
    for (int i = 0; i < 259; ++i)
        hex259 += "41,";
    writeFile(path, storeWith("\"COMPort\"=hex:43,4f,4d,37,00,38\r\n\"FirmwareFile\"=hex:" +
                              hex259 + "00\r\n\"BaudRate\"=hex:" + hex259 + "41,00\r\n"));
    texts = load();
    EXPECT_STREQ(texts.comPort, "COM7");
    EXPECT_EQ(texts.firmwareFile, std::string(259, 'A'));
    EXPECT_STREQ(texts.baudRate, "kept");
}

TEST_F(SettingsStoreTest, SavingWritesAllThreeAndKeepsTheRest) {
    const std::string other =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=dword:00000001\r\n\r\n";
    writeFile(path,
              other + kKeyLine + "\"Window\"=\"left\"\r\n\"FirmwareFile\"=\"old.usf\"\r\n\r\n");
    save("/dev/ttyUSB0", "9600");
    EXPECT_EQ(readFile(path), other + kKeyLine +
                                  "\"Window\"=\"left\"\r\n\"FirmwareFile\"=\"\"\r\n"
                                  "\"COMPort\"=\"/dev/ttyUSB0\"\r\n\"BaudRate\"=\"9600\"\r\n\r\n");
    const SettingsTexts reread = load();
    EXPECT_STREQ(reread.firmwareFile, "");
    EXPECT_STREQ(reread.comPort, "/dev/ttyUSB0");
    EXPECT_STREQ(reread.baudRate, "9600");
}

TEST_F(SettingsStoreTest, AStoreThatCannotBeOpenedLoadsAndWritesNothing) {
    // Not an export; a file where the folder should be; a folder where the file should be.
    const std::pair<std::string, std::string> kBlocked[] = {
        {path, "some notes of the user\n"}, {dir / "config", "a file, not a folder"}, {path, ""}};
    for (const auto& blocked : kBlocked) {
        SCOPED_TRACE(blocked.first + " holding " + blocked.second);
        fs::remove_all(dir / "config");
        if (blocked.second.empty())
            fs::create_directories(path);
        else
            writeFile(blocked.first, blocked.second);
        EXPECT_STREQ(load().comPort, "COM1");
        save("COM9");  // writes nothing, reports nothing
        // Nothing was written into it.
        EXPECT_EQ(blocked.second.empty() ? listFolder(path) : readFile(blocked.first),
                  blocked.second);
        EXPECT_FALSE(key.open());
    }
}

TEST_F(SettingsStoreTest, AReadOnlyFolderCannotBeWrittenByOthersThanRoot) {
    writeFile(path, storeWith("\"COMPort\"=\"COM4\"\r\n"));
    ::chmod((dir / "config/Norvald").c_str(), 0500);
    const SettingsTexts texts = load();
    save("COM9");
    ::chmod((dir / "config/Norvald").c_str(), 0700);
    if (::geteuid() == 0) {
        // Root writes anywhere: the store opens and works as usual.
        EXPECT_NE(readFile(path).find("\"COMPort\"=\"COM9\""), std::string::npos);
    } else {
        // Neither loaded (the key needs write access) nor written.
        EXPECT_STREQ(texts.comPort, "COM1");
        EXPECT_EQ(readFile(path), storeWith("\"COMPort\"=\"COM4\"\r\n"));
    }
}

TEST(SettingsStorePath, FollowsXdgConfigHomeAndFallsBackToHome) {
    ScopedEnv home("HOME", "/home/op");
    const std::pair<const char*, const char*> kCases[] = {
        {"/x/conf", "/x/conf/Norvald/Kestrel.reg"},
        {nullptr, "/home/op/.config/Norvald/Kestrel.reg"},
        {"conf", "/home/op/.config/Norvald/Kestrel.reg"},  // relative: ignored
        {"", "/home/op/.config/Norvald/Kestrel.reg"}};
    for (const auto& c : kCases) {
        ScopedEnv config("XDG_CONFIG_HOME", c.first);
        EXPECT_EQ(defaultSettingsPath(), c.second) << (c.first ? c.first : "unset");
    }
}

}  // namespace
}  // namespace kestrel::test
