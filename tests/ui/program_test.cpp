// The real window program: closed while its session waits on a pseudo-terminal it ends at
// once with exit code 2 and has saved the settings; without a display it ends with 0 and
// says why. The program is packed with a small image by the test, so its session gets past
// the image and keeps the port open while it talks to the (silent) terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "temp_dir.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The shell's exit code for a wait status (128 + the signal when killed by one).
int exitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(WindowProgram, WithoutADisplayItEndsWithZeroAndSaysWhy) {
    TempDir dir;
    const int status =
        std::system(("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "
                     "XDG_CONFIG_HOME='" +
                     dir / "config" + "' timeout -s KILL 10 '" + KESTREL_PROGRAM_UNDER_TEST +
                     "' </dev/null >'" + dir / "output" + "' 2>&1")
                        .c_str());
    EXPECT_EQ(exitCode(status), 0);
    const std::string output = readFile(dir / "output");
    EXPECT_NE(output.find("kestrel: the window cannot be created: "), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "config"));  // no window, no store
}

#if KESTREL_PROGRAM_FITS
// The test with a running session needs the program packed in front of an image, and a
// display of its own to drive it from the outside.

// The stripped program packed with the 256-byte marker and 1000 records of 72 bytes, and a
// store that names a pseudo-terminal as its port. The terminal's slave has been opened and
// closed once, so its master reports a hang-up until someone opens the slave again.
class PackedProgram : public ::testing::Test {
  protected:
    TempDir dir;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string port;
    std::string program = dir / "kestrel";
    std::string store = dir / "config/Norvald/Kestrel.reg";

    ~PackedProgram() override { ::close(master); }
    void SetUp() override {
        ASSERT_GE(master, 0);
        ::grantpt(master);
        ::unlockpt(master);
        port = ::ptsname(master);
        ::close(::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        std::string file = readFile(KESTREL_PROGRAM_UNDER_TEST);
        ASSERT_LE(file.size(), 99744u) << "the program does not fit in front of the image";
        for (int b = 0; b < 256; ++b)
            file.push_back(static_cast<char>(b));
        for (int r = 0; r < 1000; ++r) {
            file.push_back(72);
            for (int i = 0; i < 72; ++i)
                file.push_back(static_cast<char>((r * 7 + i) & 0x7F));
        }
        writeFile(program, file);
        ::chmod(program.c_str(), 0755);
        writeFile(store, storeWith(regValue("COMPort", port)));
        fs::create_directories(dir / "runtime");
        ::chmod((dir / "runtime").c_str(), 0700);
    }
    std::string output() const { return readFile(dir / "output"); }
    // Whether a program holds the terminal's slave open right now.
    bool slaveOpen() const {
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 0);
        return !(p.revents & POLLHUP);
    }
};

// Driven from the outside on an X display of its own, with real keys: Enter on the focused
// window presses START, and Escape closes it while the session holds the port. Closing the
// driver's input waits for it (and so for the program).
TEST_F(PackedProgram, ClosedDuringASessionItEndsAtOnceWithTwoAndSavesTheSettings) {
    std::unique_ptr<FILE, int (*)(FILE*)> keys(
        ::popen(("env XDG_CONFIG_HOME='" + dir / "config" + "' XDG_RUNTIME_DIR='" +
                 dir / "runtime" + "' timeout -s KILL 60 '" KESTREL_PYTHON "' '" +
                 KESTREL_DRIVE_WINDOW + "' '" + program + "' >'" + dir / "output" + "' 2>&1")
                    .c_str(),
                "we"),
        ::pclose);
    ASSERT_TRUE(keys && std::fputs("Return\n", keys.get()) >= 0 && std::fflush(keys.get()) == 0);
    for (const auto end = Clock::now() + 20s; !slaveOpen() && Clock::now() < end;)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(slaveOpen()) << output();
    // The session is still running: the terminal never answers, and it keeps the port.
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(slaveOpen()) << output();
    const auto closedAt = Clock::now();
    std::fputs("Escape\n", keys.get());
    EXPECT_EQ(exitCode(::pclose(keys.release())), 2) << output();
    EXPECT_LT(Clock::now() - closedAt, 1500ms);
    EXPECT_FALSE(slaveOpen());  // the port went with the process
    EXPECT_EQ(readFile(store), storeWith(regValue("COMPort", port) + regValue("FirmwareFile", "") +
                                         regValue("BaudRate", "115200")));
}
#endif  // KESTREL_PROGRAM_FITS

}  // namespace
}  // namespace kestrel::test
