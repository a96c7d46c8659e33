// What the operator is told when a port does not open: the ports there are, the group to
// join (or that no group helps), the process that holds the port.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "serial/port_problem_posix.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct PortProblem : testing::Test {
    PortProblem() {
        char folder[] = "/tmp/kestrel-problem-XXXXXX";
        root = mkdtemp(folder);
        host.tree = {root + "/sys", root + "/dev"};
        host.userName = "operator";
        fs::create_directories(root + "/dev");
    }
    ~PortProblem() override { fs::remove_all(root); }
    std::string explain(int code, const std::string& path) {
        SystemError e;
        e.set(code, path.c_str());
        return explainPortProblemOn(host, e);
    }
    std::string root;
    HostView host;
};

TEST_F(PortProblem, AMissingDeviceListsThePortsThatExist) {
    EXPECT_NE(explain(ENOENT, "/dev/ttyUSB3").find("No USB serial port is there now"),
              std::string::npos);
    std::ofstream(root + "/dev/ttyUSB0");
    std::ofstream(root + "/dev/ttyACM1");
    std::ofstream(root + "/dev/ttyS0");  // on-board ports are not listed one by one
    fs::create_directories(root + "/dev/serial/by-id");
    fs::create_symlink(root + "/dev/ttyACM1", root + "/dev/serial/by-id/usb-Maker_Module-if00");
    EXPECT_EQ(explain(ENOENT, "/dev/ttyUSB3"), "Serial ports on this machine:\n  " + root +
                                                   "/dev/serial/by-id/usb-Maker_Module-if00 -> " +
                                                   root + "/dev/ttyACM1\n  " + root +
                                                   "/dev/ttyACM1\n  " + root + "/dev/ttyUSB0\n");
}

TEST_F(PortProblem, PermissionDeniedNamesOwnerGroupAndWhetherJoiningHelps) {
    const std::string port = root + "/dev/ttyUSB0";
    std::ofstream(port.c_str());
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

TEST_F(PortProblem, ABusyPortNamesTheProcessThatHoldsIt) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) + unlockpt(master), 0);
    const std::string slave = ptsname(master);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        (void)!write(ready[1], fd >= 0 ? "y" : "n", 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    const std::string text = explain(EBUSY, slave);
    EXPECT_NE(text.find("Process " + std::to_string(child) + " ("), std::string::npos) << text;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(master);
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
}  // namespace kestrel
