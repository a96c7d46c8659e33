// The modem's port found in a fake sysfs and /dev tree, and the serial devices listed behind
// COM1..COM9 in the port list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/device_names.h"
#include "temp_dir.h"
#include "ui/serial_device_list.h"
#include "ui/sysfs_usb_lookups.h"

namespace kestrel::test {
namespace {

class SysfsTree : public ::testing::Test {
  protected:
    TempDir root;
    std::string sys = root / "sys";
    std::string dev = root / "dev";

    // A tty in sysfs whose "device" is a USB interface with the given class triple ("" for a
    // missing file), and its node in /dev.
    void addTty(const std::string& name, const std::string& cls, const std::string& sub,
                const std::string& proto) {
        const std::string iface = sys + "/devices/usb1/1-1/1-1:1." + name;
        fs::create_directories(iface);
        for (const auto& [file, value] : {std::pair{"/bInterfaceClass", cls},
                                          {"/bInterfaceSubClass", sub},
                                          {"/bInterfaceProtocol", proto}})
            if (!value.empty()) writeFile(iface + file, value + "\n");
        fs::create_directories(sys + "/class/tty/" + name);
        fs::create_directory_symlink(iface, sys + "/class/tty/" + name + "/device");
        writeFile(dev + "/" + name, "");
    }
    void addById(const std::string& name, const std::string& target) {
        fs::create_directories(dev + "/serial/by-id");
        fs::create_symlink(target, dev + "/serial/by-id/" + name);
    }
    std::string lookup(bool (UsbPortLookups::*which)(char (&)[kTextCapacity])) {
        SysfsUsbPortLookups lookups(sys, dev);
        char text[kTextCapacity];
        return (lookups.*which)(text) ? text : "<none>";
    }
    std::string attachedTo() { return lookup(&UsbPortLookups::attachedTo); }
    std::string address() { return lookup(&UsbPortLookups::address); }
};

TEST_F(SysfsTree, TheLowestAtModemAmongTheAcmDevicesIsTheModem) {
    addTty("ttyACM0", "02", "02", "00");  // CDC ACM without AT commands
    addTty("ttyACM1", "0a", "00", "00");  // CDC data interface
    addTty("ttyACM10", "02", "02", "01");
    addTty("ttyACM2", "02", "02", "05");  // 3GPP 27.007; 2 comes before 10
    addTty("ttyUSB0", "ff", "ff", "ff");
    addTty("ttyACMx", "02", "02", "01");  // names that only look like ACM devices
    addTty("ttyACM", "02", "02", "01");
    addTty("ttyACM1b", "02", "02", "01");
    EXPECT_EQ(attachedTo(), dev + "/ttyACM2");
}

TEST_F(SysfsTree, EveryAtProtocolCountsAndNothingElse) {
    const char* const kCases[][4] = {{"02", "02", "01", "modem"}, {"02", "02", "06", "modem"},
                                     {"2", "2", "4", "modem"},    {"02", "02", "07", ""},
                                     {"02", "02", "ff", ""},      {"02", "03", "01", ""},
                                     {"03", "02", "01", ""},      {"02", "02", "", ""},
                                     {"", "02", "01", ""},        {"02", "02", "zz", ""}};
    for (const auto& c : kCases) {
        TempDir fresh;
        sys = fresh / "sys";
        dev = fresh / "dev";
        addTty("ttyACM0", c[0], c[1], c[2]);
        EXPECT_EQ(attachedTo(), *c[3] ? dev + "/ttyACM0" : "<none>") << c[0] << c[1] << c[2];
    }
}

TEST_F(SysfsTree, AddressIsTheStableNameThatLeadsToTheModem) {
    EXPECT_EQ(attachedTo(), "<none>");  // no sysfs at all
    EXPECT_EQ(address(), "<none>");
    addTty("ttyACM0", "02", "02", "00");
    addTty("ttyACM1", "02", "02", "01");
    EXPECT_EQ(address(), "<none>");  // no /dev/serial/by-id
    addById("usb-Other_Device-if00", "../../ttyACM0");
    addById("usb-Broken-if00", "../../ttyACM9");
    EXPECT_EQ(address(), "<none>");
    addById("usb-Norvald_Module_123-if02", "../../ttyACM1");
    addById("usb-Norvald_Module_123-if00", "../../ttyACM1");  // first in order wins
    EXPECT_EQ(attachedTo(), dev + "/ttyACM1");
    EXPECT_EQ(address(), dev + "/serial/by-id/usb-Norvald_Module_123-if00");
}

TEST_F(SysfsTree, AnOverlongNameCountsAsNone) {
    while (dev.size() < 260)
        dev += "/dddddddddddddddddddddddddddddd";
    addTty("ttyACM0", "02", "02", "01");
    EXPECT_EQ(attachedTo(), "<none>");
}

TEST_F(SysfsTree, PortListHasStableNamesThenAcmThenUsbDevices) {
    // ttyS0 is listed as COM1; ttyACMx has no device number.
    for (const char* name :
         {"ttyUSB1", "ttyUSB0", "ttyACM10", "ttyACM2", "ttyS0", "ttyACMx", "tty"})
        writeFile(dev + "/" + name, "");
    addById("usb-B-if00", "../../ttyACM2");
    addById("usb-A-if00", "../../ttyUSB0");
    const std::vector<std::string> expected = {dev + "/serial/by-id/usb-A-if00",
                                               dev + "/serial/by-id/usb-B-if00",
                                               dev + "/ttyACM2",
                                               dev + "/ttyACM10",
                                               dev + "/ttyUSB0",
                                               dev + "/ttyUSB1"};
    EXPECT_EQ(listSerialDevices(dev), expected);
    EXPECT_TRUE(listSerialDevices(root / "missing").empty());
}

TEST(DeviceNames, NaturalOrderComparesNumbersByValue) {
    EXPECT_TRUE(naturalLess("ttyACM2", "ttyACM10"));
    EXPECT_FALSE(naturalLess("ttyACM10", "ttyACM2"));
    EXPECT_TRUE(naturalLess("ttyACM", "ttyACM0"));
    EXPECT_TRUE(naturalLess("a1b2", "a1b10"));
    EXPECT_TRUE(naturalLess("usb-A", "usb-B"));
    EXPECT_FALSE(naturalLess("x", "x"));
    // Equal values with other spellings still get a strict order.
    EXPECT_NE(naturalLess("a01", "a1"), naturalLess("a1", "a01"));
    EXPECT_EQ(deviceNumber("ttyACM12", "ttyACM"), 12);
    for (const char* name : {"ttyACM", "ttyACM1x", "ttyUSB1", "ttyACM9999999999"})
        EXPECT_EQ(deviceNumber(name, "ttyACM"), -1) << name;
}

}  // namespace
}  // namespace kestrel::test
