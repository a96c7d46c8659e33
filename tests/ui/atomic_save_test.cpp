// Saving the store must never leave a damaged or half-written file: the store holds the old
// content whole or the new content whole, whether a step of the save fails or the process
// dies at any point of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "temp_dir.h"
#include "ui/atomic_file.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace kestrel {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

enum Step { kCreate, kWrite, kSync, kClose, kRename, kStepCount };
const char* const kStepNames[] = {"create", "write", "sync", "close", "rename"};

// The real operations, with one step made to fail (a full disk, an I/O error).
class FailingOps : public FileOps {
  public:
    explicit FailingOps(Step failing) : failing_(failing) {}
    int createNew(const char* path, mode_t mode) override {
        if (failing_ == kCreate) return fail(ENOSPC);
        return FileOps::createNew(path, mode);
    }
    ssize_t write(int fd, const void* data, size_t size) override {
        if (failing_ != kWrite) return FileOps::write(fd, data, size);
        // Half of it goes to the disk, then the disk is full.
        if (!wroteHalf_ && size > 1) {
            wroteHalf_ = true;
            return FileOps::write(fd, data, size / 2);
        }
        return fail(ENOSPC);
    }
    int sync(int fd) override { return failing_ == kSync ? fail(EIO) : FileOps::sync(fd); }
    int close(int fd) override {
        const int result = FileOps::close(fd);  // the descriptor is gone either way
        return failing_ == kClose ? fail(EIO) : result;
    }
    int rename(const char* from, const char* to) override {
        return failing_ == kRename ? fail(EXDEV) : FileOps::rename(from, to);
    }

  private:
    static int fail(int error) {
        errno = error;
        return -1;
    }
    Step failing_;
    bool wroteHalf_ = false;
};

// The real operations, with the process dying at one of them: before it is carried out, or
// right after (a write is cut in half first).
class CrashingOps : public FileOps {
  public:
    CrashingOps(Step step, bool after) : step_(step), after_(after) {}
    int createNew(const char* path, mode_t mode) override {
        crashBefore(kCreate);
        const int fd = FileOps::createNew(path, mode);
        crashAfter(kCreate);
        return fd;
    }
    ssize_t write(int fd, const void* data, size_t size) override {
        crashBefore(kWrite);
        if (step_ == kWrite && after_) {
            FileOps::write(fd, data, size / 2);
            ::_exit(0);
        }
        return FileOps::write(fd, data, size);
    }
    int sync(int fd) override {
        crashBefore(kSync);
        const int result = FileOps::sync(fd);
        crashAfter(kSync);
        return result;
    }
    int close(int fd) override {
        crashBefore(kClose);
        const int result = FileOps::close(fd);
        crashAfter(kClose);
        return result;
    }
    int rename(const char* from, const char* to) override {
        crashBefore(kRename);
        const int result = FileOps::rename(from, to);
        crashAfter(kRename);
        return result;
    }

  private:
    void crashBefore(Step s) const {
        if (s == step_ && !after_) ::_exit(0);
    }
    void crashAfter(Step s) const {
        if (s == step_ && after_) ::_exit(0);
    }
    Step step_;
    bool after_;
};

const std::string kOld(3000, 'o');
const std::string kNew = std::string(5000, 'n') + "end";

TEST(AtomicSave, ReplacesTheFileAndLeavesNothingBeside) {
    TempDir dir;
    writeFile(dir / "store", kOld);
    ASSERT_TRUE(replaceFileAtomically(dir / "store", kNew));
    EXPECT_EQ(readFile(dir / "store"), kNew);
    EXPECT_EQ(test::listFolder(dir.path()), "store");
}

TEST(AtomicSave, AFailingStepKeepsTheOldFileAndRemovesTheTemporaryOne) {
    for (int s = 0; s < kStepCount; ++s) {
        SCOPED_TRACE(kStepNames[s]);
        TempDir dir;
        writeFile(dir / "store", kOld);
        FailingOps ops(static_cast<Step>(s));
        EXPECT_FALSE(replaceFileAtomically(dir / "store", kNew, ops));
        EXPECT_EQ(readFile(dir / "store"), kOld);
        EXPECT_EQ(test::listFolder(dir.path()), "store");
    }
}

TEST(AtomicSave, ADyingProcessLeavesTheOldFileOrTheNewOneNeverAMix) {
    for (int s = 0; s < kStepCount; ++s) {
        for (bool after : {false, true}) {
            SCOPED_TRACE(std::string(kStepNames[s]) + (after ? " done" : " not done"));
            TempDir dir;
            writeFile(dir / "store", kOld);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                CrashingOps ops(static_cast<Step>(s), after);
                replaceFileAtomically(dir / "store", kNew, ops);
                ::_exit(1);  // not reached: the process dies inside
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no crash simulated";
            const std::string content = readFile(dir / "store");
            const bool renamed = s == kRename && after;
            EXPECT_EQ(content, renamed ? kNew : kOld);
            // What a crash leaves beside the store does not stop the next save.
            ASSERT_TRUE(replaceFileAtomically(dir / "store", "next"));
            EXPECT_EQ(readFile(dir / "store"), "next");
        }
    }
}

TEST(AtomicSave, TheStoreKeepsItsPermissions) {
    TempDir dir;
    writeFile(dir / "store", kOld);
    ::chmod((dir / "store").c_str(), 0640);
    ASSERT_TRUE(replaceFileAtomically(dir / "store", kNew));
    struct stat st;
    ASSERT_EQ(::stat((dir / "store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicSave, AFailedSaveOfTheSettingsKeepsTheStoredOnesReadable) {
    for (int s = 0; s < kStepCount; ++s) {
        SCOPED_TRACE(kStepNames[s]);
        TempDir dir;
        const std::string path = dir / "Norvald/Kestrel.reg";
        RegFileKey key(path);
        SettingsTexts first;
        std::strcpy(first.comPort, "COM4");
        std::strcpy(first.baudRate, "57600");
        saveSettings(key, first);
        const std::string stored = readFile(path);

        FailingOps ops(static_cast<Step>(s));
        RegFileKey failing(path, ops);
        SettingsTexts second;
        std::strcpy(second.comPort, "COM9");
        std::strcpy(second.baudRate, "460800");
        saveSettings(failing, second);
        EXPECT_EQ(readFile(path), stored);

        SettingsTexts loaded;
        loadSettings(key, &loaded);
        EXPECT_STREQ(loaded.comPort, "COM4");
        EXPECT_STREQ(loaded.baudRate, "57600");
    }
}

}  // namespace
}  // namespace kestrel
