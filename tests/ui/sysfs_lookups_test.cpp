// The modem's port found in a fake sysfs and /dev tree, and the serial devices listed behind
// COM1..COM9 in the port list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "temp_dir.h"
#include "ui/device_names.h"
#include "ui/serial_device_list.h"
#include "ui/sysfs_usb_lookups.h"

namespace kestrel {
namespace {

using test::TempDir;
using test::writeFile;

class SysfsTree : public ::testing::Test {
  protected:
    TempDir root;
    std::string sys = root / "sys";
    std::string dev = root / "dev";

    // A tty in sysfs whose "device" is a USB interface with the given class triple.
    void addTty(const std::string& name, const char* cls, const char* sub, const char* proto) {
        const std::string iface = sys + "/devices/usb1/1-1/1-1:1." + name;
        if (cls) writeFile(iface + "/bInterfaceClass", std::string(cls) + "\n");
        if (sub) writeFile(iface + "/bInterfaceSubClass", std::string(sub) + "\n");
        if (proto) writeFile(iface + "/bInterfaceProtocol", std::string(proto) + "\n");
        test::makeDirectories(iface);
        test::makeDirectories(sys + "/class/tty/" + name);
        ASSERT_EQ(::symlink(iface.c_str(), (sys + "/class/tty/" + name + "/device").c_str()), 0);
        writeFile(dev + "/" + name, "");
    }
    void addById(const std::string& name, const std::string& target) {
        test::makeDirectories(dev + "/serial/by-id");
        ASSERT_EQ(::symlink(target.c_str(), (dev + "/serial/by-id/" + name).c_str()), 0);
    }
    std::string attachedTo() {
        SysfsUsbPortLookups lookups(sys, dev);
        char text[kTextCapacity];
        return lookups.attachedTo(text) ? text : "<none>";
    }
    std::string address() {
        SysfsUsbPortLookups lookups(sys, dev);
        char text[kTextCapacity];
        return lookups.address(text) ? text : "<none>";
    }
};

TEST_F(SysfsTree, TheLowestAtModemAmongTheAcmDevicesIsTheModem) {
    addTty("ttyACM0", "02", "02", "00");  // CDC ACM without AT commands
    addTty("ttyACM1", "0a", "00", "00");  // CDC data interface
    addTty("ttyACM10", "02", "02", "01");
    addTty("ttyACM2", "02", "02", "05");  // 3GPP 27.007; 2 comes before 10
    addTty("ttyUSB0", "ff", "ff", "ff");
    EXPECT_EQ(attachedTo(), dev + "/ttyACM2");
}

TEST_F(SysfsTree, EveryAtProtocolCountsAndNothingElse) {
    const char* cases[][3] = {{"02", "02", "01"}, {"02", "02", "06"}, {"2", "2", "4"}};
    for (auto& c : cases) {
        TempDir fresh;
        sys = fresh / "sys";
        dev = fresh / "dev";
        addTty("ttyACM0", c[0], c[1], c[2]);
        EXPECT_EQ(attachedTo(), dev + "/ttyACM0") << c[0] << c[1] << c[2];
    }
    const char* not_modems[][3] = {{"02", "02", "07"}, {"02", "02", "ff"},    {"02", "03", "01"},
                                   {"03", "02", "01"}, {"02", "02", nullptr}, {nullptr, "02", "01"},
                                   {"02", "02", "zz"}};
    for (auto& c : not_modems) {
        TempDir fresh;
        sys = fresh / "sys";
        dev = fresh / "dev";
        addTty("ttyACM0", c[0], c[1], c[2]);
        EXPECT_EQ(attachedTo(), "<none>");
    }
}

TEST_F(SysfsTree, NamesThatOnlyLookLikeAcmDevicesAreSkipped) {
    addTty("ttyACMx", "02", "02", "01");
    addTty("ttyACM", "02", "02", "01");
    addTty("ttyACM3b", "02", "02", "01");
    EXPECT_EQ(attachedTo(), "<none>");
    EXPECT_EQ(address(), "<none>");
}

TEST_F(SysfsTree, AddressIsTheStableNameThatLeadsToTheModem) {
    addTty("ttyACM0", "02", "02", "00");
    addTty("ttyACM1", "02", "02", "01");
    addById("usb-Other_Device-if00", "../../ttyACM0");
    addById("usb-Norvald_Module_123-if02", "../../ttyACM1");
    addById("usb-Norvald_Module_123-if00", "../../ttyACM1");  // first in order wins
    addById("usb-Broken-if00", "../../ttyACM9");
    EXPECT_EQ(attachedTo(), dev + "/ttyACM1");
    EXPECT_EQ(address(), dev + "/serial/by-id/usb-Norvald_Module_123-if00");
}

TEST_F(SysfsTree, NoModemOrNoStableNameYieldsNothing) {
    EXPECT_EQ(attachedTo(), "<none>");  // no sysfs at all
    EXPECT_EQ(address(), "<none>");
    addTty("ttyACM0", "02", "02", "01");
    EXPECT_EQ(address(), "<none>");  // no /dev/serial/by-id
    addById("usb-Other-if00", "../../ttyACM5");
    EXPECT_EQ(address(), "<none>");
}

TEST_F(SysfsTree, AnOverlongNameCountsAsNone) {
    TempDir deep;
    std::string longDev = deep.path();
    while (longDev.size() < 260)
        longDev += "/dddddddddddddddddddddddddddddd";
    dev = longDev;
    addTty("ttyACM0", "02", "02", "01");
    EXPECT_EQ(attachedTo(), "<none>");
}

TEST_F(SysfsTree, PortListHasStableNamesThenAcmThenUsbDevices) {
    writeFile(dev + "/ttyUSB1", "");
    writeFile(dev + "/ttyUSB0", "");
    writeFile(dev + "/ttyACM10", "");
    writeFile(dev + "/ttyACM2", "");
    writeFile(dev + "/ttyS0", "");    // the COM ports are listed as COM1..COM9
    writeFile(dev + "/ttyACMx", "");  // not a device number
    writeFile(dev + "/tty", "");
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
    EXPECT_EQ(deviceNumber("ttyACM", "ttyACM"), -1);
    EXPECT_EQ(deviceNumber("ttyACM1x", "ttyACM"), -1);
    EXPECT_EQ(deviceNumber("ttyUSB1", "ttyACM"), -1);
    EXPECT_EQ(deviceNumber("ttyACM9999999999", "ttyACM"), -1);
}

}  // namespace
}  // namespace kestrel
