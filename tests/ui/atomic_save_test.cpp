// Saving the store must never leave a damaged or half-written file: the store holds the old
// content whole or the new content whole, whether a step of the save fails or the process
// dies at any point of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
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
            // removes it.
            ASSERT_TRUE(replaceFileAtomically(dir / "store", "next"));
            EXPECT_EQ(readFile(dir / "store"), "next");
            EXPECT_EQ(listFolder(dir.path()), "store");
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

// The real operations, except that before the temporary file is flushed the process says so
// on `said` and waits for a byte on `gate`: a kill then lands in the middle of a save.
class GatedOps : public FileOps {
  public:
    GatedOps(int said, int gate) : said_(said), gate_(gate) {}
    int sync(int fd) override {
        char c = 'S';
        if (::write(said_, &c, 1) != 1 || ::read(gate_, &c, 1) != 1) ::_exit(2);
        return FileOps::sync(fd);
    }

  private:
    int said_, gate_;
};

SettingsTexts version(int n) {
    SettingsTexts texts;
    // The lengths vary, so a torn file would show.
    const std::string firmware = std::string(static_cast<size_t>(n % 40), 'f') + "#";
    std::snprintf(texts.firmwareFile, sizeof texts.firmwareFile, "%s%d", firmware.c_str(), n);
    std::snprintf(texts.comPort, sizeof texts.comPort, "COM%d", n);
    std::snprintf(texts.baudRate, sizeof texts.baudRate, "%d", n);
    return texts;
}

TEST(AtomicSave, KillsDuringASaveLoopLeaveAWholeVersionAndNoPileOfTemporaryFiles) {
    TempDir dir;
    const std::string path = dir / "Norvald/Kestrel.reg";
    {
        RegFileKey key(path);
        saveSettings(key, version(0));
    }
    const std::string first = readFile(path);
    auto expected = [&](int n) {
        RegFile file;
        file.parse(first.data(), first.size());
        const SettingsTexts texts = version(n);
        file.setStringValue(kSettingsKeyPath, "FirmwareFile", texts.firmwareFile);
        file.setStringValue(kSettingsKeyPath, "COMPort", texts.comPort);
        file.setStringValue(kSettingsKeyPath, "BaudRate", texts.baudRate);
        return file.serialize();
    };

    std::mt19937 random(20240611);
    int stored = 0;
    for (int kill = 0; kill < 24; ++kill) {
        int said[2], gate[2];
        ASSERT_EQ(::pipe(said), 0);
        ASSERT_EQ(::pipe(gate), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            GatedOps ops(said[1], gate[0]);
            RegFileKey key(path, ops);
            for (int n = stored + 1;; ++n)
                saveSettings(key, version(n));
        }
        // Some saves go through; then the child dies inside one (every other round, with its
        // temporary file written), or at a random moment after it was let go on.
        const int passing = static_cast<int>(random() % 3);
        const bool midSave = kill % 2 == 0;
        char c = 0;
        for (int save = 0; save <= passing; ++save) {
            ASSERT_EQ(::read(said[0], &c, 1), 1);
            if (save < passing || !midSave) {
                ASSERT_EQ(::write(gate[1], "g", 1), 1);
            }
        }
        if (!midSave) ::usleep(random() % 3000);
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        for (int fd : {said[0], said[1], gate[0], gate[1]})
            ::close(fd);

        RegFileKey reader(path);
        SettingsTexts texts;
        loadSettings(reader, &texts);
        // The saves let through are kept; the one killed half-way is not, and the one let go
        // on may or may not have got to its rename. Nothing else is ever seen.
        const int n = std::atoi(texts.baudRate);
        EXPECT_GE(n, stored + passing);
        EXPECT_LE(n, stored + passing + (midSave ? 0 : 1));
        EXPECT_EQ(readFile(path), expected(n)) << "kill " << kill;
        stored = n;
        // The one the dead child left at most; those of the children before are gone.
        const std::string beside = listFolder(dir / "Norvald");
        EXPECT_EQ(beside.find(".tmp"), beside.rfind(".tmp")) << beside;
        if (midSave) {
            EXPECT_NE(beside.find(".tmp"), std::string::npos) << beside;
        }
    }
    RegFileKey key(path);
    saveSettings(key, version(stored + 1));
    EXPECT_EQ(listFolder(dir / "Norvald"), "Kestrel.reg");
}

}  // namespace
}  // namespace kestrel::test
