// Opening and closing the port on real devices: what counts as a serial port, that the
// port is taken exclusively, and that every way out releases the descriptor.
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <string>

#include "serial_posix/pty_fixture.h"

namespace kestrel::test {
namespace {

// The descriptor the driver holds on `path`, found through /proc; -1 when none.
int descriptorOn(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path)
            return std::stoi(entry.path().filename());
    }
    return -1;
}

// Runs `attempt` in a child process without root's privileges (root passes by TIOCEXCL)
// and returns its result; 3 and 4 when the child could not run it.
template <typename Attempt>
int inUnprivilegedChild(Attempt attempt) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(attempt());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 4;
    return WEXITSTATUS(status);
}

class PtyOpenTest : public PtyPortTest {
  protected:
    void SetUp() override {
        PtyPortTest::SetUp();
        ASSERT_EQ(chmod(slave(), 0666), 0);  // let an unprivileged child reach it
    }
    int openInChild() {
        return inUnprivilegedChild([&] { return port_.openPort(slave(), 115200, false); });
    }
    // Another program's descriptor on the slave.
    int openOther() { return open(slave(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }
};

TEST_F(PtyOpenTest, OpensTheSlaveRawAndNonBlockingAndReleasesItOnClose) {
    const int before = openDescriptorCount();
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    EXPECT_TRUE(port_.portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    const int fd = descriptorOn(slave());
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

    // The master reads the slave's settings: raw 8N1, no flow control, no processing.
    termios t{};
    ASSERT_EQ(tcgetattr(master_, &t), 0);
    EXPECT_EQ(t.c_iflag &
                  (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | BRKINT | PARMRK | INPCK),
              0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    port_.closePort();
    EXPECT_FALSE(port_.portIsOpen());
    EXPECT_EQ(descriptorOn(slave()), -1);
    port_.closePort();  // harmless a second time
    EXPECT_EQ(openDescriptorCount(), before);

    // Lock and exclusive flag are gone: another program can take the port now.
    const int other = openOther();
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    EXPECT_EQ(openInChild(), 1);
}

TEST_F(PtyOpenTest, NamesThatAreNoTerminalDoNotOpen) {
    char file[] = "/tmp/kestrel-serial-XXXXXX";
    const int fileFd = mkstemp(file);
    ASSERT_GE(fileFd, 0);
    close(fileFd);
    const std::string missing = std::string(slave()) + "-missing";
    const int before = openDescriptorCount();
    for (const char* name : {static_cast<const char*>(file), "/dev/null", missing.c_str(), "/tmp",
                             "", "\\\\.\\", "kestrel-no-such-device"}) {
        EXPECT_EQ(port_.openPort(name, 115200, false), 0) << name;
        EXPECT_FALSE(port_.portIsOpen());
        EXPECT_EQ(openDescriptorCount(), before) << name;
        port_.closePort();
    }
    unlink(file);
}

TEST_F(PtyOpenTest, RetriesUnderTheNameWithoutTheWin32PrefixInUsbModeToo) {
    // A pty has no modem lines, which USB mode does without.
    const std::string prefixed = std::string("\\\\.\\") + slave();
    EXPECT_EQ(port_.openPort(prefixed.c_str(), 115200, true), 1);
}

TEST_F(PtyOpenTest, PortHeldByAnotherProgramDoesNotOpen) {
    const int before = openDescriptorCount();
    ASSERT_EQ(openInChild(), 1) << "the child can reach the slave at all";
    int other = openOther();
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(port_.openPort(slave(), 115200, false), 0);
    EXPECT_FALSE(port_.portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    close(other);

    // Held with TIOCEXCL only (no flock).
    other = openOther();
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    EXPECT_EQ(openInChild(), 0);
    close(other);
    EXPECT_EQ(port_.openPort(slave(), 115200, false), 1);
}

TEST_F(PtyOpenTest, OpenPortKeepsOthersOut) {
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    // Programs that lock the port are refused, root included.
    const int other = openOther();
    if (other >= 0) {
        EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), -1);
        EXPECT_EQ(errno, EWOULDBLOCK);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    // Ordinary users cannot even open it (TIOCEXCL).
    EXPECT_EQ(inUnprivilegedChild([&] { return openOther() < 0 && errno == EBUSY ? 0 : 1; }), 0);
    EXPECT_TRUE(port_.portIsOpen());
}

}  // namespace
}  // namespace kestrel::test
