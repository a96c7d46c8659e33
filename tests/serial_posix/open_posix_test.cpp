// Opening and closing the port on real devices: what counts as a serial port (and how a name
// maps to a device), that the operator's own terminal is never touched, that the port is taken
// exclusively and left as it was found, that every way out releases the descriptor, and what
// the operator is told when a port does not open.
#include <grp.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstring>
#include <tuple>

#include "serial/device_name_posix.h"
#include "serial/port_problem_posix.h"
#include "serial_posix/posix_tree.h"

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

// Runs `attempt` in a child process, without root's privileges unless `privileged` (root
// passes by TIOCEXCL), and returns its result; 3 and 4 when the child could not run it.
template <typename Attempt>
int inChild(bool privileged, Attempt attempt) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!privileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(attempt());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 4;
    return WEXITSTATUS(status);
}

class PtyOpenTest : public PtyPortTest, public TempTree {
  protected:
    void SetUp() override {
        PtyPortTest::SetUp();
        ASSERT_EQ(chmod(slave(), 0666), 0);  // let an unprivileged child reach it
    }
    int openInChild() {
        return inChild(false, [&] { return port_.openPort(slave(), 115200, false); });
    }
    // Another program's descriptor on the slave.
    int openOther() { return open(slave(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }
};

TEST_F(PtyOpenTest, OpensTheSlaveExclusivelyAndNonBlockingAndReleasesItOnClose) {
    const int before = openDescriptorCount();
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    EXPECT_TRUE(port_.portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    const int fd = descriptorOn(slave());
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

    // Programs that lock the port are refused, root included; ordinary users cannot even open
    // it (TIOCEXCL).
    const int locker = openOther();
    EXPECT_TRUE(locker < 0 ? errno == EBUSY
                           : flock(locker, LOCK_EX | LOCK_NB) == -1 && errno == EWOULDBLOCK);
    close(locker);
    EXPECT_EQ(inChild(false, [&] { return openOther() < 0 && errno == EBUSY ? 0 : 1; }), 0);

    port_.closePort();
    EXPECT_FALSE(port_.portIsOpen());
    port_.closePort();  // harmless a second time
    EXPECT_EQ(openDescriptorCount(), before);

    // Lock and exclusive flag are gone: another program can take the port now, and then the
    // port is "busy" for us (not flock's "temporarily unavailable").
    int other = openOther();
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(port_.openPort(slave(), 115200, false), 0);
    EXPECT_EQ(port_.lastError().code, EBUSY);
    EXPECT_FALSE(port_.portIsOpen());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    close(other);
    EXPECT_EQ(openInChild(), 1);
    // udev's /dev/serial/by-id names are links to the device; a pty has no modem lines, which
    // USB mode does without.
    const std::string link = root + "/usb-Modem_1234-if00";
    ASSERT_EQ(symlink(slave(), link.c_str()), 0);
    EXPECT_EQ(port_.openPort(link.c_str(), 115200, true), 1);
    port_.closePort();

    // Held with TIOCEXCL only (no flock); the flag outlives its setter's descriptor, and is
    // not ours.
    other = openOther();
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    EXPECT_EQ(openInChild(), 0);
    close(other);
    EXPECT_EQ(port_.openPort(slave(), 115200, false), 1);
    port_.closePort();
    EXPECT_EQ(openInChild(), 0);
}

// Each refused with its reason, and nothing but a character device is opened at all.
TEST_F(PtyOpenTest, WhatIsNoSerialPortIsRefusedWithItsReason) {
    const std::string file = root + "/file", fifo = root + "/fifo";
    write("/file", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // inotify reports every open of the folder and of anything in it.
    const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(opens, root.c_str(), IN_OPEN), 0);

    using Case = std::tuple<std::string, int, std::string, std::string>;  // name, code, what, path
    std::vector<Case> cases = {
        {file, 0, "not a character device", file},
        {fifo, 0, "not a character device", fifo},
        {"null", 0, "not a terminal device", "/dev/null"},
        {"kestrel-no-such-device", ENOENT, "", "/dev/kestrel-no-such-device"},
        {"dev/ttyS0", 0, "not an absolute path", "dev/ttyS0"},
        {"", 0, "not a serial port name", ""},
        {"tty", 0, "is the controlling terminal", "/dev/tty"},
    };
    struct stat console {};
    cases.push_back(stat("/dev/console", &console) == 0
                        ? Case{"console", 0, "is the system console", "/dev/console"}
                        : Case{"console", ENOENT, "", "/dev/console"});

    const int before = openDescriptorCount();
    for (const auto& [name, code, what, path] : cases) {
        EXPECT_EQ(port_.openPort(name.c_str(), 115200, false), 0) << name;
        const SystemError& why = port_.lastError();
        EXPECT_EQ(Case(name, why.code, why.what ? why.what : "", why.path),
                  Case(name, code, what, path));
        EXPECT_EQ(openDescriptorCount(), before) << name;
    }
    alignas(inotify_event) char events[sizeof(inotify_event) + NAME_MAX + 1] = {};
    EXPECT_EQ(read(opens, events, sizeof events), -1)
        << "opened: " << reinterpret_cast<const inotify_event*>(events)->name;
    close(opens);
}

// The operator's terminal as the port is refused, with nothing written into it and its
// settings as they were: as a standard stream's terminal here, and in a child of a session
// of its own as the controlling terminal, by name and as /dev/tty.
TEST_F(PtyOpenTest, TheOperatorsTerminalIsRefusedAndLeftAlone) {
    const std::string found = slaveState(master_);
    ASSERT_FALSE(found.empty());
    const auto refused = [&](const char* name, const char* why) {
        const int opened = port_.openPort(name, 115200, false);
        const char* what = port_.lastError().what;
        return opened == 0 && what != nullptr && std::strcmp(what, why) == 0 ? 0 : 1;
    };
    const int stream = open(slave(), O_RDWR | O_NOCTTY), input = dup(STDIN_FILENO);
    ASSERT_EQ(dup2(stream, STDIN_FILENO), STDIN_FILENO);
    EXPECT_EQ(refused(slave(), "is the terminal of a standard stream"), 0);
    dup2(input, STDIN_FILENO);
    close(stream);
    close(input);
    const auto asControlling = [&] {
        alarm(5);  // a child that hangs ends
        // Without O_NOCTTY, a session leader's first terminal becomes its controlling one.
        if (setsid() < 0 || open(slave(), O_RDWR) < 0) return 3;
        const char* controlling = "is the controlling terminal";
        return refused(slave(), controlling) + 2 * refused("tty", controlling);
    };
    EXPECT_EQ(inChild(true, asControlling), 0);
    uint8_t byte = 0;
    EXPECT_EQ(receive(&byte, 1, 50), 0u);
    EXPECT_EQ(slaveState(master_), found);
}

// Odd settings another program left, separate input rate included, survive an update.
TEST_F(PtyOpenTest, ClosingLeavesTheTerminalAsItWasFound) {
    termios odd{};
    ASSERT_EQ(tcgetattr(master_, &odd), 0);
    odd.c_iflag |= ICRNL | IXON | IGNBRK;
    odd.c_oflag |= OPOST | ONLCR;
    odd.c_lflag |= ICANON | ECHO | ISIG;
    odd.c_cflag = (odd.c_cflag | CSTOPB | CRTSCTS) & ~static_cast<tcflag_t>(CLOCAL | HUPCL);
    odd.c_cc[VMIN] = 3;
    odd.c_cc[VTIME] = 7;
    ASSERT_EQ(cfsetspeed(&odd, B1200), 0);
    ASSERT_EQ(tcsetattr(master_, TCSANOW, &odd), 0);
    ASSERT_TRUE(leaveStaleInputRate(master_));
    const std::string found = slaveState(master_);
    ASSERT_FALSE(found.empty());

    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    // The port's own settings while it is open: raw 8N1, no flow control, no processing, a
    // hang-up when we die.
    termios own{};
    ASSERT_EQ(tcgetattr(master_, &own), 0);
    EXPECT_EQ((std::vector<tcflag_t>{
                  own.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | BRKINT |
                                 PARMRK | INPCK),
                  own.c_oflag & OPOST, own.c_lflag & (ICANON | ECHO | ISIG | IEXTEN),
                  own.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD | HUPCL),
                  own.c_cc[VMIN], own.c_cc[VTIME]}),
              (std::vector<tcflag_t>{0, 0, 0, CS8 | CLOCAL | CREAD | HUPCL, 0, 0}));
    port_.closePort();
    EXPECT_EQ(slaveState(master_), found);
}

// The path, or the reason the name maps to none.
std::string mapped(const char* name, size_t capacity = 272) {
    std::string out(capacity, '#');
    const char* refusal = posixDeviceName(name, out.data(), capacity);
    return refusal != nullptr ? std::string("<") + refusal + ">" : out.c_str();
}

// COMn (any case) counts from zero under /dev/ttyS; other bare names go under /dev; only
// absolute paths stay as they are: a relative one would depend on the working directory
// (another relative name: PtyOpenTest.WhatIsNoSerialPortIsRefusedWithItsReason).
TEST(PosixDeviceName, MapsComPortsAndBareNamesUnderDevAndKeepsOnlyAbsolutePaths) {
    const std::string tooLong = "<port name too long>";
    const std::string relative = "<not an absolute path>";
    const struct {
        std::string name;
        std::string path;
        size_t capacity = 272;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"CoM12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},
        {"COM1a", "/dev/COM1a"},
        {"COM99999999999999999999", "/dev/COM99999999999999999999"},
        {"\\\\.\\COM1", "/dev/\\\\.\\COM1"},  // the Windows namespace means nothing here
        {"/dev/ttyUSB1", "/dev/ttyUSB1"},
        {"./COM1", relative},
        {"", "<not a serial port name>"},
        // 10 characters and the NUL; a full 259-character field fits under /dev.
        {"COM1", "/dev/ttyS0", 11},
        {"COM1", tooLong, 10},
        {"ttyUSB0", tooLong, 12},
        {"/dev/x", "/dev/x", 7},
        {"/dev/x", tooLong, 6},
        {std::string(259, 'a'), "/dev/" + std::string(259, 'a')},
        {std::string(267, 'a'), tooLong},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mapped(c.name.c_str(), c.capacity), c.path) << c.name;
    EXPECT_EQ(mapped(nullptr), "<not a serial port name>");
    char out[8];
    EXPECT_STREQ(posixDeviceName("COM1", nullptr, 8), "port name too long");
    EXPECT_STREQ(posixDeviceName("COM1", out, 0), "port name too long");
}

// What the operator is told when a port does not open: the ports there are, the group to
// join (or that no group helps). The process that holds a busy port is named end to end
// (e2e.port_problems).
struct PortProblem : testing::Test, TempTree {
    PortProblem() {
        host.tree = {root + "/sys", root + "/dev"};
        host.userName = "operator";
        std::filesystem::create_directories(root + "/dev");
    }
    std::string explain(int code, const std::string& path) {
        SystemError e;
        e.set(code, path.c_str());
        return explainPortProblemOn(host, e);
    }
    HostView host;
};

TEST_F(PortProblem, AMissingDeviceListsThePortsThatExist) {
    EXPECT_NE(explain(ENOENT, "/dev/ttyUSB3").find("No USB serial port is there now"),
              std::string::npos);
    for (const char* name : {"/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyS0"})  // ttyS: not listed
        write(name, "");
    link(root + "/dev/ttyACM1", "/dev/serial/by-id/usb-Maker_Module-if00");
    EXPECT_EQ(explain(ENOENT, "/dev/ttyUSB3"), "Serial ports on this machine:\n  " + root +
                                                   "/dev/serial/by-id/usb-Maker_Module-if00 -> " +
                                                   root + "/dev/ttyACM1\n  " + root +
                                                   "/dev/ttyACM1\n  " + root + "/dev/ttyUSB0\n");
}

TEST_F(PortProblem, PermissionDeniedNamesOwnerGroupAndWhetherJoiningHelps) {
    const std::string port = root + "/dev/ttyUSB0";
    write("/dev/ttyUSB0", "");
    const gid_t gid = getegid();
    const std::string group =
        getgrgid(gid) != nullptr ? getgrgid(gid)->gr_name : std::to_string(gid);
    chmod(port.c_str(), 0660);
    const std::string notIn = explain(EACCES, port);
    EXPECT_NE(notIn.find(", group " + group + ", mode 660."), std::string::npos) << notIn;
    EXPECT_NE(notIn.find("operator is not in group " + group + "."), std::string::npos) << notIn;
    EXPECT_NE(notIn.find("sudo usermod -aG " + group + " operator"), std::string::npos) << notIn;

    host.loginGroups = {gid};
    EXPECT_NE(explain(EACCES, port).find("log out and in again"), std::string::npos);
    host.groups = {gid};
    EXPECT_NE(explain(EACCES, port).find("in group " + group + " already"), std::string::npos);

    chmod(port.c_str(), 0600);
    EXPECT_NE(explain(EACCES, port).find("Only its owner may open it"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::test
