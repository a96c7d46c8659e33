// What the operator is told when a port does not open: the ports there are, the group to
// join (or that no group helps). The process that holds a busy port is named end to end
// (e2e.port_problems).
#include <grp.h>

#include "serial/port_problem_posix.h"
#include "serial_posix/posix_tree.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct PortProblem : testing::Test, test::TempTree {
    PortProblem() {
        host.tree = {root + "/sys", root + "/dev"};
        host.userName = "operator";
        fs::create_directories(root + "/dev");
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
}  // namespace kestrel
