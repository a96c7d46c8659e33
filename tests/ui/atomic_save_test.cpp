// Saving the store must never leave a damaged or half-written file: the store holds the old
// content whole or the new content whole, whether a step of the save fails or the process
// dies at any point of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
const int kStepErrors[] = {ENOSPC, ENOSPC, EIO, EIO, EXDEV};  // what BrokenOps fails with
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

TEST(AtomicSave, AFailingStepKeepsTheOldFileAndRemovesTheTemporaryOne) {
    for (int s = 0; s < kStepCount; ++s) {
        SCOPED_TRACE(kStepNames[s]);
        TempDir dir;
        writeFile(dir / "store", kOld);
        BrokenOps ops(static_cast<Step>(s), Mode::Fail);
        EXPECT_FALSE(replaceFileAtomically(dir / "store", kNew, ops));
        EXPECT_EQ(errno, kStepErrors[s]);  // the reason survives the clean-up
        EXPECT_EQ(readFile(dir / "store"), kOld);
        EXPECT_EQ(listFolder(dir.path()), "store");

        // The same through the settings store: the stored settings stay readable, and the
        // reason why the new ones were not kept is told.
        const std::string path = dir / "Norvald/Kestrel.reg";
        RegFileKey key(path);
        SettingsTexts texts;
        std::strcpy(texts.comPort, "COM4");
        saveSettings(key, texts);
        const std::string stored = readFile(path);
        BrokenOps failing(static_cast<Step>(s), Mode::Fail);
        FILE* diagnostics = std::tmpfile();
        ASSERT_NE(diagnostics, nullptr);
        RegFileKey broken(path, failing, diagnostics);
        std::strcpy(texts.comPort, "COM9");
        saveSettings(broken, texts);
        EXPECT_EQ(readFile(path), stored);
        char told[300] = {};
        std::rewind(diagnostics);
        told[std::fread(told, 1, sizeof told - 1, diagnostics)] = '\0';
        std::fclose(diagnostics);
        EXPECT_EQ(told, "kestrel: settings are not kept: " + path + ": " +
                            std::strerror(kStepErrors[s]) + "\n");
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
            ::chmod((dir / "store").c_str(), 0640);
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
            // What a crash leaves beside the store does not stop the next save, which
            // removes it; the store keeps its permissions throughout.
            ASSERT_TRUE(replaceFileAtomically(dir / "store", "next"));
            EXPECT_EQ(readFile(dir / "store"), "next");
            EXPECT_EQ(listFolder(dir.path()), "store");
            struct stat st;
            ASSERT_EQ(::stat((dir / "store").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0640u);
        }
    }
}

TEST(AtomicSave, TemporaryFilesOfProcessesThatAreGoneAreRemovedTheOthersStay) {
    TempDir dir;
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const std::string dead = std::to_string(gone), alive = std::to_string(::getppid());
    const std::string kept[] = {"store." + alive + ".tmp",  // a save in progress elsewhere
                                "store.x" + dead + ".tmp", "store." + dead + ".tmp.old",
                                "other." + dead + ".tmp", "store.0.tmp"};
    for (const std::string& name : kept)
        writeFile(dir / name, "");
    writeFile(dir / ("store." + dead + ".tmp"), kNew.substr(0, 100));
    ASSERT_TRUE(replaceFileAtomically(dir / "store", kNew));
    EXPECT_EQ(listFolder(dir.path()), "other." + dead + ".tmp store store.0.tmp store." + alive +
                                          ".tmp store." + dead + ".tmp.old store.x" + dead +
                                          ".tmp");
}

}  // namespace
}  // namespace kestrel::test
