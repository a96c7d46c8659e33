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
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Launched {
    pid_t pid;
    int input;  // the program's standard input
};

// Starts `argv` with its environment changed by `env` ("NAME=value" sets, "NAME" removes),
// its output to `log` and its standard input from a pipe.
Launched spawn(std::vector<std::string> argv, const std::vector<std::string>& env,
               const std::string& log) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& e : env) {
            const size_t eq = e.find('=');
            if (eq == std::string::npos) ::unsetenv(e.c_str());
            if (eq != std::string::npos) ::setenv(e.substr(0, eq).c_str(), &e[eq + 1], 1);
        }
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fds[0], 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[0]);
    return {pid, fds[1]};
}

// The exit code (128 + the signal when killed by one), or -1 when the program is still
// running after `limit`; it is then killed.
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(2ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

TEST(WindowProgram, WithoutADisplayItEndsWithZeroAndSaysWhy) {
    TempDir dir;
    const Launched run = spawn(
        {KESTREL_PROGRAM_UNDER_TEST},
        {"QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME=" + dir / "config"},
        dir / "output");
    ::close(run.input);
    EXPECT_EQ(waitExit(run.pid, 10s), 0);
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
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir / "config",
                                    "XDG_RUNTIME_DIR=" + dir / "runtime"};

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
        writeFile(store, storeWith("\"COMPort\"=\"" + port + "\"\r\n"));
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
// window presses START, and Escape closes it while the session holds the port.
TEST_F(PackedProgram, ClosedDuringASessionItEndsAtOnceWithTwoAndSavesTheSettings) {
    const Launched run =
        spawn({KESTREL_PYTHON, KESTREL_DRIVE_WINDOW, program}, env, dir / "output");
    ASSERT_GT(::write(run.input, "Return\n", 7), 0);
    for (const auto end = Clock::now() + 20s; !slaveOpen() && Clock::now() < end;)
        std::this_thread::sleep_for(5ms);
    const bool opened = slaveOpen();
    if (!opened) ::close(run.input);
    ASSERT_TRUE(opened) << output();
    // The session is still running: the terminal never answers, and it keeps the port.
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(slaveOpen()) << output();
    const auto closedAt = Clock::now();
    ASSERT_GT(::write(run.input, "Escape\n", 7), 0);
    ::close(run.input);
    EXPECT_EQ(waitExit(run.pid, 10s), 2) << output();
    EXPECT_LT(Clock::now() - closedAt, 1500ms);
    EXPECT_FALSE(slaveOpen());  // the port went with the process
    EXPECT_EQ(readFile(store),
              storeWith("\"COMPort\"=\"" + port +
                        "\"\r\n\"FirmwareFile\"=\"\"\r\n\"BaudRate\"=\"115200\"\r\n"));
}
#endif  // KESTREL_PROGRAM_FITS

}  // namespace
}  // namespace kestrel::test
