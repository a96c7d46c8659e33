// Opening and closing the port on real devices: what counts as a serial port, that the
// port is taken exclusively, and that every way out releases the descriptor.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "serial_posix/port_fixture.h"

namespace kestrel::test {
namespace {

// The descriptor the driver holds on `path`, found through /proc; -1 when none.
int descriptorOn(const char* path) {
    for (int fd = 0; fd < 1024; ++fd) {
        char link[64];
        char target[256];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (std::string(target) == path) return fd;
    }
    return -1;
}

// Runs openPort(path) in a child process, without root's privileges (root passes by
// TIOCEXCL). 1: opened, 0: refused, other: the child could not run the attempt.
int openPortInUnprivilegedChild(const char* path) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(openPort(path, 115200, false));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 4;
    return WEXITSTATUS(status);
}

using PtyOpenTest = PtyPortTest;

TEST_F(PtyOpenTest, OpensTheSlaveRawAndNonBlockingAndReleasesItOnClose) {
    ASSERT_EQ(chmod(pty_.slavePath(), 0666), 0);  // for the unprivileged opener at the end
    const int before = openDescriptorCount();
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    EXPECT_TRUE(portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);

    const int fd = descriptorOn(pty_.slavePath());
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

    // The master reads the slave's settings: raw 8N1, no flow control, no processing.
    termios t{};
    ASSERT_EQ(tcgetattr(pty_.master(), &t), 0);
    EXPECT_EQ(t.c_iflag &
                  (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | BRKINT | PARMRK | INPCK),
              0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    closePort();
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(descriptorOn(pty_.slavePath()), -1);
    closePort();  // harmless a second time
    EXPECT_EQ(openDescriptorCount(), before);

    // Lock and exclusive flag are gone: another program can take the port now.
    const int other = open(pty_.slavePath(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    EXPECT_EQ(openPortInUnprivilegedChild(pty_.slavePath()), 1);
}

TEST_F(PtyOpenTest, OpensInUsbModeThoughThePtyHasNoModemLines) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, true), 1);
    EXPECT_TRUE(portIsOpen());
}

TEST_F(PtyOpenTest, NamesThatAreNoTerminalDoNotOpen) {
    char file[] = "/tmp/kestrel-serial-XXXXXX";
    const int fileFd = mkstemp(file);
    ASSERT_GE(fileFd, 0);
    close(fileFd);
    const std::string missing = std::string(pty_.slavePath()) + "-missing";
    const int before = openDescriptorCount();
    for (const char* name : {static_cast<const char*>(file), "/dev/null", missing.c_str(), "/tmp",
                             "", "\\\\.\\", "kestrel-no-such-device"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(openPort(name, 115200, false), 0);
        EXPECT_FALSE(portIsOpen());
        EXPECT_EQ(openDescriptorCount(), before);
        closePort();
    }
    unlink(file);
}

TEST_F(PtyOpenTest, RetriesUnderTheNameWithoutTheWin32Prefix) {
    const std::string prefixed = std::string("\\\\.\\") + pty_.slavePath();
    ASSERT_EQ(openPort(prefixed.c_str(), 115200, false), 1);
    EXPECT_GE(descriptorOn(pty_.slavePath()), 0);
}

TEST_F(PtyOpenTest, PortHeldByAnotherProgramDoesNotOpen) {
    const int before = openDescriptorCount();
    const int other = open(pty_.slavePath(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(openPort(pty_.slavePath(), 115200, false), 0);
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    close(other);
    EXPECT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
}

TEST_F(PtyOpenTest, PortMarkedExclusiveByAnotherProgramDoesNotOpen) {
    // Let an unprivileged child reach the slave at all, and check that it can.
    ASSERT_EQ(chmod(pty_.slavePath(), 0666), 0);
    ASSERT_EQ(openPortInUnprivilegedChild(pty_.slavePath()), 1);

    // Another program holds the port with TIOCEXCL only (no flock).
    const int other = open(pty_.slavePath(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    EXPECT_EQ(openPortInUnprivilegedChild(pty_.slavePath()), 0);
    close(other);
}

TEST_F(PtyOpenTest, OpenPortKeepsOthersOut) {
    ASSERT_EQ(chmod(pty_.slavePath(), 0666), 0);
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);

    // Programs that lock the port are refused, root included.
    const int other = open(pty_.slavePath(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
        EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), -1);
        EXPECT_EQ(errno, EWOULDBLOCK);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    // Ordinary users cannot even open it (TIOCEXCL).
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        const int fd = open(pty_.slavePath(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 && errno == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(portIsOpen());
}

}  // namespace
}  // namespace kestrel::test
