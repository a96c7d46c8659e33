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

namespace kestrel::test {
namespace {

enum Step { kCreate, kWrite, kSync, kClose, kRename, kStepCount };
const char* const kStepNames[] = {"create", "write", "sync", "close", "rename"};
enum class Mode { Fail, DieBefore, DieAfter };

// The real operations, with one step failing (a full disk, an I/O error) or the process dying
// right before or after it. A broken write gets half of its data to the disk first.
class BrokenOps : public FileOps {
  public:
    BrokenOps(Step step, Mode mode) : step_(step), mode_(mode) {}
    int createNew(const char* path, mode_t mode) override {
        return run(kCreate, ENOSPC, [&] { return FileOps::createNew(path, mode); });
    }
    ssize_t write(int fd, const void* data, size_t size) override {
        if (step_ != kWrite || mode_ == Mode::DieBefore || cut_ || size < 2)
            return run(kWrite, ENOSPC, [&] { return FileOps::write(fd, data, size); });
        cut_ = true;
        const ssize_t written = FileOps::write(fd, data, size / 2);
        if (mode_ == Mode::DieAfter) ::_exit(0);
        return written;
    }
    int sync(int fd) override {
        return run(kSync, EIO, [&] { return FileOps::sync(fd); });
    }
    int close(int fd) override {
        // The descriptor is gone even when close reports an error.
        return run(
            kClose, EIO, [&] { return FileOps::close(fd); }, true);
    }
    int rename(const char* from, const char* to) override {
        return run(kRename, EXDEV, [&] { return FileOps::rename(from, to); });
    }

  private:
    template <typename Op>
    auto run(Step step, int error, Op op, bool carriedOutWhenFailing = false) -> decltype(op()) {
        if (step != step_) return op();
        if (mode_ == Mode::DieBefore) ::_exit(0);
        if (mode_ == Mode::DieAfter) {
            op();
            ::_exit(0);
        }
        if (carriedOutWhenFailing) op();
        errno = error;
        return -1;
    }
    Step step_;
    Mode mode_;
    bool cut_ = false;
};

const std::string kOld(3000, 'o');
const std::string kNew = std::string(5000, 'n') + "end";

TEST(AtomicSave, ReplacesTheFileKeepingItsPermissionsAndLeavesNothingBeside) {
    TempDir dir;
    writeFile(dir / "store", kOld);
    ::chmod((dir / "store").c_str(), 0640);
    ASSERT_TRUE(replaceFileAtomically(dir / "store", kNew));
    EXPECT_EQ(readFile(dir / "store"), kNew);
    EXPECT_EQ(listFolder(dir.path()), "store");
    struct stat st;
    ASSERT_EQ(::stat((dir / "store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicSave, AFailingStepKeepsTheOldFileAndRemovesTheTemporaryOne) {
    for (int s = 0; s < kStepCount; ++s) {
        SCOPED_TRACE(kStepNames[s]);
        TempDir dir;
        writeFile(dir / "store", kOld);
        BrokenOps ops(static_cast<Step>(s), Mode::Fail);
        EXPECT_FALSE(replaceFileAtomically(dir / "store", kNew, ops));
        EXPECT_EQ(readFile(dir / "store"), kOld);
        EXPECT_EQ(listFolder(dir.path()), "store");

        // The same through the settings store: the stored settings stay readable.
        const std::string path = dir / "Norvald/Kestrel.reg";
        RegFileKey key(path);
        SettingsTexts texts;
        std::strcpy(texts.comPort, "COM4");
        saveSettings(key, texts);
        const std::string stored = readFile(path);
        BrokenOps failing(static_cast<Step>(s), Mode::Fail);
        RegFileKey broken(path, failing);
        std::strcpy(texts.comPort, "COM9");
        saveSettings(broken, texts);
        EXPECT_EQ(readFile(path), stored);
        texts = SettingsTexts();
        loadSettings(key, &texts);
        EXPECT_STREQ(texts.comPort, "COM4");
    }
}

TEST(AtomicSave, ADyingProcessLeavesTheOldFileOrTheNewOneNeverAMix) {
    for (int s = 0; s < kStepCount; ++s) {
        for (Mode mode : {Mode::DieBefore, Mode::DieAfter}) {
            SCOPED_TRACE(std::string(kStepNames[s]) + (mode == Mode::DieAfter ? " done" : ""));
            TempDir dir;
            writeFile(dir / "store", kOld);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                BrokenOps ops(static_cast<Step>(s), mode);
                replaceFileAtomically(dir / "store", kNew, ops);
                ::_exit(1);  // not reached: the process dies inside
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no crash simulated";
            EXPECT_EQ(readFile(dir / "store"),
                      s == kRename && mode == Mode::DieAfter ? kNew : kOld);
            // What a crash leaves beside the store does not stop the next save.
            ASSERT_TRUE(replaceFileAtomically(dir / "store", "next"));
            EXPECT_EQ(readFile(dir / "store"), "next");
        }
    }
}

}  // namespace
}  // namespace kestrel::test
