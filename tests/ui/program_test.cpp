// The real window program: closed while its session waits on a pseudo-terminal it ends at
// once with exit code 2 and has saved the settings; without a display it ends with 0 and
// says why. The program is packed with a small image by the test, so its session gets past
// the image and keeps the port open while it talks to the (silent) terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

extern char** environ;

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxProgramSize = 99744;

struct Launched {
    pid_t pid = -1;
    int input = -1;  // the program's standard input
};

// Starts `program` with `args`, its environment changed by `env` ("NAME=value" sets, "NAME"
// removes), its output to `log` and its standard input from a pipe.
Launched spawn(const std::string& program, const std::vector<std::string>& env,
               const std::string& log, const std::vector<std::string>& args = {}) {
    int pipeFds[2];
    EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& mine : env)
            replaced |= mine.substr(0, mine.find('=')) == name;
        if (!replaced) environment.push_back(entry);
    }
    for (const std::string& mine : env)
        if (mine.find('=') != std::string::npos) environment.push_back(mine);
    std::vector<char*> envp, argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : environment)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    Launched run;
    EXPECT_EQ(::posix_spawn(&run.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    run.input = pipeFds[1];
    return run;
}

// The exit status, or -1 when the program is still running after `limit` (it is then killed).
int waitExit(pid_t pid, std::chrono::milliseconds limit, bool* signalled = nullptr) {
    int status = 0;
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (signalled) *signalled = WIFSIGNALED(status);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(2ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

TEST(WindowProgram, WithoutADisplayItEndsWithZeroAndSaysWhy) {
    TempDir dir;
    const Launched run = spawn(
        KESTREL_PROGRAM_UNDER_TEST,
        {"QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME=" + dir / "config"},
        dir / "output");
    ::close(run.input);
    EXPECT_EQ(waitExit(run.pid, 10s), 0);
    const std::string output = readFile(dir / "output");
    EXPECT_NE(output.find("kestrel: the window cannot be created: "), std::string::npos) << output;
    EXPECT_FALSE(exists(dir / "config"));  // no window, no store
}

#if KESTREL_PROGRAM_FITS
// The tests with a running session need the program packed in front of an image.

// The stripped program, the 256-byte marker and `records` records of 72 bytes.
std::string packProgram(const TempDir& dir, int records) {
    std::string file = readFile(KESTREL_PROGRAM_UNDER_TEST);
    EXPECT_LE(file.size(), kMaxProgramSize) << "the program does not fit in front of the image";
    for (int b = 0; b < 256; ++b)
        file.push_back(static_cast<char>(b));
    for (int r = 0; r < records; ++r) {
        file.push_back(72);
        for (int i = 0; i < 72; ++i)
            file.push_back(static_cast<char>((r * 7 + i) & 0x7F));
    }
    const std::string path = dir / "kestrel";
    writeFile(path, file);
    ::chmod(path.c_str(), 0755);
    return path;
}

// A pseudo-terminal standing in for the module's port. Its slave has been opened and closed
// once, so the master reports a hang-up until someone opens the slave again.
class Terminal {
  public:
    Terminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        ::grantpt(master_);
        ::unlockpt(master_);
        name_ = ::ptsname(master_);
        ::close(::open(name_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    }
    ~Terminal() { ::close(master_); }
    const std::string& name() const { return name_; }
    // Whether a program holds the slave open right now.
    bool slaveOpen() const {
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 0);
        return !(p.revents & POLLHUP);
    }
    bool waitSlaveOpen(std::chrono::milliseconds limit) const {
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            if (slaveOpen()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

  private:
    int master_ = -1;
    std::string name_;
};

std::string storeWith(const std::string& values) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n" + values + "\r\n";
}

TEST(WindowProgram, ClosedDuringASessionItEndsAtOnceWithTwoAndSavesTheSettings) {
    TempDir dir;
    Terminal module;
    const std::string program = packProgram(dir, 1000);
    const std::string store = dir / "config/Norvald/Kestrel.reg";
    writeFile(store,
              storeWith("\"COMPort\"=\"" + module.name() + "\"\r\n\"BaudRate\"=\"115200\"\r\n"));
    makeDirectories(dir / "runtime");
    ::chmod((dir / "runtime").c_str(), 0700);

    const Launched run = spawn(program,
                               {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + dir / "config",
                                "XDG_RUNTIME_DIR=" + dir / "runtime", "KESTREL_TEST_DRIVE=1"},
                               dir / "output");
    // START is pressed as soon as the window shows; the session opens the port.
    const bool opened = module.waitSlaveOpen(10s);
    if (!opened) ::close(run.input);
    ASSERT_TRUE(opened) << readFile(dir / "output");
    // The session is still running: the terminal never answers, and it keeps the port.
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(module.slaveOpen()) << readFile(dir / "output");

    const auto closedAt = Clock::now();
    ASSERT_EQ(::write(run.input, "x", 1), 1);  // the hook sends Escape to the window
    bool signalled = false;
    const int code = waitExit(run.pid, 5s, &signalled);
    const auto took = Clock::now() - closedAt;
    ::close(run.input);
    EXPECT_EQ(code, 2) << readFile(dir / "output");
    EXPECT_FALSE(signalled);
    EXPECT_LT(took, 1500ms);
    EXPECT_FALSE(module.slaveOpen());  // the port went with the process
    EXPECT_EQ(readFile(store), storeWith("\"COMPort\"=\"" + module.name() +
                                         "\"\r\n\"BaudRate\"=\"115200\"\r\n"
                                         "\"FirmwareFile\"=\"\"\r\n"));
}

#if defined(KESTREL_XVFB_RUN) && defined(KESTREL_XDOTOOL)
// The same with a real X server and real keys: Enter on the focused window presses START,
// Escape closes it.
TEST(WindowProgram, UnderXvfbEnterStartsAndEscapeClosesDuringTheSession) {
    TempDir dir;
    Terminal module;
    const std::string program = packProgram(dir, 1000);
    const std::string store = dir / "config/Norvald/Kestrel.reg";
    writeFile(store, storeWith("\"COMPort\"=\"" + module.name() + "\"\r\n"));
    makeDirectories(dir / "runtime");
    ::chmod((dir / "runtime").c_str(), 0700);
    const std::string xdotool = KESTREL_XDOTOOL;
    writeFile(dir / "drive.sh",
              "\"$1\" &\n"
              "pid=$!\n"
              "window=$(" +
                  xdotool + " search --sync --name '^Kestrel')\n" + xdotool +
                  " windowfocus --sync \"$window\"\n" + xdotool +
                  " key Return\n"
                  "read line\n" +
                  xdotool +
                  " key Escape\n"
                  "wait $pid\n"
                  "echo \"exit=$?\"\n");
    const Launched run = spawn(
        KESTREL_XVFB_RUN,
        {"XDG_CONFIG_HOME=" + dir / "config", "XDG_RUNTIME_DIR=" + dir / "runtime",
         "QT_QPA_PLATFORM", "KESTREL_TEST_DRIVE"},
        dir / "output", {"-a", "-s", "-screen 0 800x600x24", "sh", dir / "drive.sh", program});
    const bool opened = module.waitSlaveOpen(20s);
    if (!opened) ::close(run.input);
    ASSERT_TRUE(opened) << readFile(dir / "output");
    ASSERT_EQ(::write(run.input, "go\n", 3), 3);
    EXPECT_EQ(waitExit(run.pid, 20s), 0) << readFile(dir / "output");
    ::close(run.input);
    EXPECT_NE(readFile(dir / "output").find("exit=2\n"), std::string::npos)
        << readFile(dir / "output");
    EXPECT_NE(readFile(store).find("\"COMPort\"=\"" + module.name() + "\""), std::string::npos);
}
#endif
#endif  // KESTREL_PROGRAM_FITS

}  // namespace
}  // namespace kestrel::test
