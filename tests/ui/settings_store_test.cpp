// The settings store as a .reg file: what a first start creates, which stored values are
// loaded, what a save keeps, a store that cannot be opened, and saving, which must never leave
// a damaged or half-written file: the store holds the old content whole or the new content
// whole when a step of the save fails, and what an earlier crash left beside it is cleared.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <tuple>

#include "temp_dir.h"
#include "ui/atomic_file.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace kestrel::test {
namespace {

const std::string kEmptyKey = storeWith("");
const std::string kOther = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n";

// What was written to a diagnostics file, which is closed.
std::string told(FILE* diagnostics) {
    std::string text(400, '\0');
    std::rewind(diagnostics);
    text.resize(std::fread(text.data(), 1, text.size(), diagnostics));
    std::fclose(diagnostics);
    return text;
}
// The port and rate fields of a texts record.
SettingsTexts texts(const char* port, const char* rate = "") {
    SettingsTexts t;  // the firmware-name field is empty (template 130)
    std::strcpy(t.comPort, port);
    std::strcpy(t.baudRate, rate);
    return t;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir / "config/Norvald/Kestrel.reg";
    RegFileKey key{path};

    // The texts loaded over "COM1" and a rate field showing "kept", as "firmware|port|rate".
    std::string load() {
        SettingsTexts t = texts("COM1", "kept");
        loadSettings(key, &t);
        return std::string(t.firmwareFile) + "|" + t.comPort + "|" + t.baudRate;
    }
};

TEST_F(SettingsStoreTest, AFirstLoadCreatesTheEmptyKeyStoredTextsReplaceTheFieldsAsTheyAre) {
    EXPECT_EQ(load(), "|COM1|kept");
    EXPECT_EQ(readFile(path), kEmptyKey);
    EXPECT_EQ(fs::status(dir / "config/Norvald").permissions(), fs::perms(0700));
    EXPECT_EQ(listFolder(dir / "config/Norvald"), "Kestrel.reg");  // no temporary file left

    // An empty file gets the key; an export without it gets it added.
    writeFile(path, "");
    load();
    EXPECT_EQ(readFile(path), kEmptyKey);
    writeFile(path, kOther);
    load();
    EXPECT_EQ(readFile(path), kOther + kKeyLine + "\r\n");

    // No check that the port exists, no trimming, no conversion; 259 characters are loaded,
    // 260 or an unreadable value leave their field; empty is a text. The stored type is not
    // examined: binary data is read up to its first NUL.
    const std::string p259(259, 'p');
    const std::pair<std::string, std::string> kCases[] = {
        {regValue("FirmwareFile", "C:\\\\fw\\\\a.usf") + regValue("COMPort", "COM12") +
             regValue("BaudRate", " 9600"),
         "C:\\fw\\a.usf|COM12| 9600"},
        {regValue("FirmwareFile", p259) + regValue("COMPort", p259 + "p") +
             "\"BaudRate\"=\"57600\r\n",  // no closing quote
         p259 + "|COM1|kept"},
        {regValue("COMPort", "") + "\"BaudRate\"=hex:43,4f,4d,37,00,38\r\n", "||COM7"}};
    for (const auto& [values, shown] : kCases) {
        writeFile(path, storeWith(values));
        EXPECT_EQ(load(), shown);
    }
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
    ASSERT_EQ(::chown(dir.path.c_str(), kNobody, kNobody), 0);
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
    const std::string stored = storeWith(regValue("COMPort", "COM4"));
    const auto file = [&](std::string content, int mode = 0600, int folderMode = 0700) {
        return [=] {
            writeFile(path, content);
            ::chmod(path.c_str(), mode);
            ::chmod(folder.c_str(), folderMode);
        };
    };
    const std::tuple<const char*, std::function<void()>, std::string> kBlocked[] = {
        {"not an export", file("some notes of the user\n"),
         path + ": not a REGEDIT4 export, left as it is"},
        {"larger than a store", file("REGEDIT4\r\n" + std::string(1 << 20, ';')),
         path + ": larger than 1 MiB, not a settings store"},
        {"a file for the folder", [&] { writeFile(dir / "config", "x"); },
         path + ": Not a directory"},
        // Not a regular file; opening a FIFO for reading would wait for a writer.
        {"a FIFO", [&] { fs::create_directories(folder), ::mkfifo(path.c_str(), 0600); },
         path + ": not a regular file"},
        {"a link to itself",
         [&] { fs::create_directories(folder), fs::create_symlink("Kestrel.reg", path); },
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
            RegFileKey blockedKey(path, systemFileOps(), diagnostics);
            ::alarm(10);  // a store that blocks ends the test instead of hanging it
            SettingsTexts t = texts("COM1");
            loadSettings(blockedKey, &t);
            EXPECT_STREQ(t.comPort, "COM1");
            saveSettings(blockedKey, texts("COM9"));
            EXPECT_FALSE(blockedKey.open());
            ::alarm(0);
            EXPECT_EQ(outsideView(path), before);
            // One line for the whole store, however often it was tried.
            EXPECT_EQ(told(diagnostics), "kestrel: settings are not kept: " + reason + "\n");
        }
    });
}

TEST_F(SettingsStoreTest, AStoreThatIsALinkIsSavedInTheFileItLeadsTo) {
    // Link text, the file it leads to in the end, and whether that exists before the save.
    const std::tuple<std::string, std::string, bool> kLinks[] = {
        {dir / "dotfiles/Kestrel.reg", "Kestrel.reg", true},
        {"../../dotfiles/kestrel.reg", "kestrel.reg", true},
        {"chain.reg", "Kestrel.reg", true},  // chain.reg leads on to dotfiles
        {"../../dotfiles/new.reg", "new.reg", false},
    };
    const std::string values =
        regValue("FirmwareFile", "") + regValue("COMPort", "COM9") + regValue("BaudRate", "57600");
    for (const auto& [link, name, exists] : kLinks) {
        SCOPED_TRACE(link);
        for (const char* folder : {"config", "dotfiles"})
            fs::remove_all(dir / folder), fs::create_directories(dir / folder);
        fs::create_directories(dir / "config/Norvald");
        if (exists) writeFile(dir / ("dotfiles/" + name), kOther);
        fs::create_symlink(dir / "dotfiles/Kestrel.reg", dir / "config/Norvald/chain.reg");
        fs::create_symlink(link, path);
        saveSettings(key, texts("COM9", "57600"));
        EXPECT_EQ(fs::is_symlink(path) ? fs::read_symlink(path).string() : "<no link>", link);
        EXPECT_EQ(readFile(dir / ("dotfiles/" + name)),
                  (exists ? kOther : "REGEDIT4\r\n\r\n") + kKeyLine + values + "\r\n");
        EXPECT_EQ(load(), "|COM9|57600");
        EXPECT_EQ(listFolder(dir / "config/Norvald") + " " + listFolder(dir / "dotfiles"),
                  "Kestrel.reg chain.reg " + name);
    }
}

TEST(SettingsStorePath, FollowsXdgConfigHomeAndFallsBackToHome) {
    ScopedEnv home("HOME", "/home/op");
    const std::pair<const char*, const char*> kCases[] = {
        {"/x/conf", "/x/conf/Norvald/Kestrel.reg"},
        {nullptr, "/home/op/.config/Norvald/Kestrel.reg"},
        {"conf", "/home/op/.config/Norvald/Kestrel.reg"}};  // relative: ignored
    for (const auto& c : kCases) {
        ScopedEnv config("XDG_CONFIG_HOME", c.first);
        EXPECT_EQ(defaultSettingsPath(), c.second) << (c.first ? c.first : "unset");
    }
}

enum Step { kCreate, kWrite, kSync, kClose, kRename, kStepCount };
const char* const kStepNames[] = {"create", "write", "sync", "close", "rename"};
const int kStepErrors[] = {ENOSPC, ENOSPC, EIO, EIO, EXDEV};  // what BrokenOps fails with

// The real operations, with one step failing (a full disk, an I/O error).
class BrokenOps : public FileOps {
  public:
    explicit BrokenOps(int step) : step_(step) {}
    int createNew(const char* path, mode_t mode) override {
        return fails(kCreate) ? -1 : FileOps::createNew(path, mode);
    }
    // A broken write gets half of its data to the disk first.
    ssize_t write(int fd, const void* data, size_t size) override {
        if (step_ == kWrite && !cut_ && size > 1)
            return cut_ = true, FileOps::write(fd, data, size / 2);
        return fails(kWrite) ? -1 : FileOps::write(fd, data, size);
    }
    int sync(int fd) override { return fails(kSync) ? -1 : FileOps::sync(fd); }
    // The descriptor is gone even when close reports an error.
    int close(int fd) override { return FileOps::close(fd) != 0 || fails(kClose) ? -1 : 0; }
    int rename(const char* from, const char* to) override {
        return fails(kRename) ? -1 : FileOps::rename(from, to);
    }

  private:
    bool fails(int step) { return step == step_ && (errno = kStepErrors[step], true); }
    int step_;
    bool cut_ = false;
};

TEST(AtomicSave, AFailingStepKeepsTheOldFileAndRemovesTheTemporaryOne) {
    for (int s = 0; s < kStepCount; ++s) {
        SCOPED_TRACE(kStepNames[s]);
        TempDir dir;
        // The stored settings stay whole, the temporary file goes, and the reason (errno, which
        // survives the clean-up) why the new ones were not kept is told.
        const std::string path = dir / "Norvald/Kestrel.reg";
        RegFileKey key(path);
        saveSettings(key, texts("COM4"));
        const std::string stored = readFile(path);
        FILE* diagnostics = std::tmpfile();
        BrokenOps failing(s);
        RegFileKey broken(path, failing, diagnostics);
        saveSettings(broken, texts("COM9"));
        EXPECT_EQ(readFile(path), stored);
        EXPECT_EQ(told(diagnostics), "kestrel: settings are not kept: " + path + ": " +
                                         std::strerror(kStepErrors[s]) + "\n");
        EXPECT_EQ(listFolder(dir / "Norvald"), "Kestrel.reg");
    }
}

TEST(AtomicSave, TemporaryFilesOfProcessesThatAreGoneAreRemovedTheOthersStay) {
    TempDir dir;
    // A gone process: one past the largest id the kernel gives (a reaped child's id can come
    // back at once on a busy machine).
    const std::string dead = std::to_string(std::stol(readFile("/proc/sys/kernel/pid_max")) + 1);
    const std::string alive = std::to_string(::getppid());
    const std::string kept[] = {"store." + alive + ".tmp",  // a save in progress elsewhere
                                "store.x" + dead + ".tmp", "store." + dead + ".tmp.old",
                                "other." + dead + ".tmp", "store.0.tmp"};
    for (const std::string& name : kept)
        writeFile(dir / name, "");
    writeFile(dir / ("store." + dead + ".tmp"), "half of a save");
    writeFile(dir / "store", "old");
    ::chmod((dir / "store").c_str(), 0640);
    ASSERT_TRUE(replaceFileAtomically(dir / "store", "new"));
    EXPECT_EQ(fs::status(dir / "store").permissions(), fs::perms(0640));  // kept
    // The gone process's file went, and nothing else: the others and the new store are there.
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_EQ(readFile(dir / "store"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 6);
}

}  // namespace
}  // namespace kestrel::test
