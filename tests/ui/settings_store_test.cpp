// The settings store as a .reg file: what a first start creates, which stored values are
// loaded, what a save keeps, and a store that cannot be opened.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "temp_dir.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace kestrel::test {
namespace {

const std::string kEmptyKey = storeWith("");

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

// What a store looks like from outside: its type, permissions, size, inode and time of change,
// and what lies beside it. Needs no read access to the file.
std::string outsideView(const std::string& path) {
    struct stat st;
    std::string view = listFolder(fs::path(path).parent_path().string());
    if (::lstat(path.c_str(), &st) != 0) return view + " <missing>";
    return view + " mode " + std::to_string(st.st_mode) + " size " + std::to_string(st.st_size) +
           " inode " + std::to_string(st.st_ino) + " changed " + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec);
}

// Runs `body` as an operator's account would: root may read and write anything. Under root
// it runs in a child process that has become `nobody` and owns `dir`.
template <typename Body>
void asOrdinaryUser(const TempDir& dir, Body body) {
    if (::geteuid() != 0) return body();
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(dir.path().c_str(), kNobody, kNobody), 0);
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        body();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(SettingsStoreTest, AStoreThatCannotBeKeptIsLeftAloneAndSaysWhyOnce) {
    const std::string folder = dir / "config/Norvald";
    const std::string stored = storeWith("\"COMPort\"=\"COM4\"\r\n");
    const auto file = [&](std::string content, int mode = 0600, int folderMode = 0700) {
        return [=] {
            writeFile(path, content);
            ::chmod(path.c_str(), mode);
            ::chmod(folder.c_str(), folderMode);
        };
    };
    const auto inFolder = [&](std::function<void()> make) {
        return [=] { fs::create_directories(folder), make(); };
    };
    const std::tuple<const char*, std::function<void()>, std::string> kBlocked[] = {
        {"not an export", file("some notes of the user\n"),
         path + ": not a REGEDIT4 export, left as it is"},
        {"larger than a store", file("REGEDIT4\r\n" + std::string(1 << 20, ';')),
         path + ": larger than 1 MiB, not a settings store"},
        {"a file for the folder", [&] { writeFile(dir / "config", "x"); },
         path + ": Not a directory"},
        {"a folder for the file", [&] { fs::create_directories(path); },
         path + ": not a regular file"},
        // Opening a FIFO for reading would wait for a writer.
        {"a FIFO", inFolder([&] { ::mkfifo(path.c_str(), 0600); }), path + ": not a regular file"},
        {"a link to itself", inFolder([&] { fs::create_symlink("Kestrel.reg", path); }),
         path + ": Too many levels of symbolic links"},
        {"unreadable", file(stored, 0200), path + ": Permission denied"},
        {"unwritable", file(stored, 0400), path + ": Permission denied"},
        {"a read-only folder", file(stored, 0600, 0500), folder + ": Permission denied"},
    };
    asOrdinaryUser(dir, [&] {
        for (const auto& [what, make, reason] : kBlocked) {
            SCOPED_TRACE(what);
            std::error_code ignored;
            fs::permissions(folder, fs::perms::owner_all, ignored);
            fs::remove_all(dir / "config");
            make();
            const std::string before = outsideView(path);
            FILE* diagnostics = std::tmpfile();
            ASSERT_NE(diagnostics, nullptr);
            RegFileKey blockedKey(path, systemFileOps(), diagnostics);
            ::alarm(10);  // a store that blocks ends the test instead of hanging it
            SettingsTexts texts;
            std::strcpy(texts.comPort, "COM1");
            loadSettings(blockedKey, &texts);
            EXPECT_STREQ(texts.comPort, "COM1");
            std::strcpy(texts.comPort, "COM9");
            saveSettings(blockedKey, texts);
            EXPECT_FALSE(blockedKey.open());
            ::alarm(0);
            EXPECT_EQ(outsideView(path), before);
            // One line for the whole store, however often it was tried.
            std::string told(400, '\0');
            std::rewind(diagnostics);
            told.resize(std::fread(told.data(), 1, told.size(), diagnostics));
            std::fclose(diagnostics);
            EXPECT_EQ(told, "kestrel: settings are not kept: " + reason + "\n");
        }
    });
}

TEST_F(SettingsStoreTest, AStoreThatIsALinkIsSavedInTheFileItLeadsTo) {
    const std::string other = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n";
    // Link text, the file it leads to in the end, and whether that exists before the save.
    const struct {
        std::string link;
        std::string target;
        bool exists;
    } kLinks[] = {
        {dir / "dotfiles/Kestrel.reg", dir / "dotfiles/Kestrel.reg", true},
        {"../../dotfiles/kestrel.reg", dir / "dotfiles/kestrel.reg", true},
        {"chain.reg", dir / "dotfiles/Kestrel.reg", true},  // chain.reg leads on to dotfiles
        {"../../dotfiles/new.reg", dir / "dotfiles/new.reg", false},
    };
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.link);
        fs::remove_all(dir / "config");
        fs::remove_all(dir / "dotfiles");
        fs::create_directories(dir / "config/Norvald");
        fs::create_directories(dir / "dotfiles");
        if (l.exists) writeFile(l.target, other);
        fs::create_symlink(dir / "dotfiles/Kestrel.reg", dir / "config/Norvald/chain.reg");
        fs::create_symlink(l.link, path);
        save("COM9", "57600");
        ASSERT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::read_symlink(path).string(), l.link);
        const std::string values =
            "\"FirmwareFile\"=\"\"\r\n\"COMPort\"=\"COM9\"\r\n"
            "\"BaudRate\"=\"57600\"\r\n";
        EXPECT_EQ(readFile(l.target),
                  l.exists ? other + kKeyLine + values + "\r\n"
                           : kEmptyKey.substr(0, kEmptyKey.size() - 2) + values + "\r\n");
        EXPECT_STREQ(load().comPort, "COM9");
        EXPECT_EQ(listFolder(dir / "config/Norvald"), "Kestrel.reg chain.reg");
        EXPECT_EQ(listFolder(dir / "dotfiles"), l.target.substr(l.target.rfind('/') + 1));
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
