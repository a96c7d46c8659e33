// The modem's port found in a fake sysfs and /dev tree, and the serial devices listed behind
// COM1..COM9 in the port list.
#include <gtest/gtest.h>

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

    // A tty in sysfs whose "device" is a USB interface with the class triple "cc ss pp" (a
    // missing file for "-"), and its node in /dev.
    void addTty(const std::string& name, const std::string& triple = "02 02 01") {
        const std::string iface = sys + "/devices/usb1/1-1/1-1:1." + name;
        fs::create_directories(iface);
        const std::vector<std::string> values = split(triple, ' ');
        const char* const files[] = {"Class", "SubClass", "Protocol"};
        for (size_t i = 0; i < 3; ++i)
            if (values[i] != "-") writeFile(iface + "/bInterface" + files[i], values[i] + "\n");
        fs::create_directories(sys + "/class/tty/" + name);
        fs::create_directory_symlink(iface, sys + "/class/tty/" + name + "/device");
        writeFile(dev + "/" + name, "");
    }
    void addById(const std::string& name, const std::string& target) {
        fs::create_directories(dev + "/serial/by-id");
        fs::create_symlink(target, dev + "/serial/by-id/" + name);
    }
    // What AttachedTo and Address say.
    std::string lookups() {
        SysfsUsbPortLookups lookups(sys, dev);
        char a[kTextCapacity], b[kTextCapacity];
        return std::string(lookups.attachedTo(a) ? a : "<none>") + " " +
               (lookups.address(b) ? b : "<none>");
    }
};

TEST_F(SysfsTree, EveryAtProtocolCountsAndNothingElse) {
    for (const char* modem : {"02 02 01", "02 02 06", "2 2 4"}) {
        for (const char* other :
             {"02 02 07", "02 02 ff", "02 03 01", "03 02 01", "02 02 -", "- 02 01", "02 02 zz"}) {
            SCOPED_TRACE(std::string(modem) + " / " + other);
            fs::remove_all(root.path), fs::create_directories(root.path);
            addTty("ttyACM0", other);
            addTty("ttyACM1", modem);
            EXPECT_EQ(lookups(), dev + "/ttyACM1 <none>");
        }
    }
}

TEST_F(SysfsTree, TheLowestAtModemIsTheModemAndAddressTheStableNameThatLeadsToIt) {
    EXPECT_EQ(lookups(), "<none> <none>");  // no sysfs at all
    addTty("ttyACM0", "02 02 00");          // CDC ACM without AT commands
    addTty("ttyACM1", "0a 00 00");          // CDC data interface
    addTty("ttyACM10");
    addTty("ttyACM2", "02 02 05");  // 3GPP 27.007; 2 comes before 10
    addTty("ttyUSB0", "ff ff ff");
    for (const char* lookalike : {"ttyACMx", "ttyACM", "ttyACM1b"})
        addTty(lookalike);
    EXPECT_EQ(lookups(), dev + "/ttyACM2 <none>");  // no /dev/serial/by-id
    addById("usb-Other_Device-if00", "../../ttyACM0");
    addById("usb-Broken-if00", "../../ttyACM9");
    EXPECT_EQ(lookups(), dev + "/ttyACM2 <none>");
    // The first in order wins, whatever order the folder lists them in.
    for (const std::string name : {"if07", "if02", "if10", "if05", "if01", "if03"})
        addById("usb-Norvald_Module_123-" + name, "../../ttyACM2");
    EXPECT_EQ(lookups(), dev + "/ttyACM2 " + dev + "/serial/by-id/usb-Norvald_Module_123-if01");
}

TEST_F(SysfsTree, AnOverlongNameCountsAsNone) {
    dev += "/" + std::string(200, 'd') + "/" + std::string(60, 'd');  // past 259 characters
    addTty("ttyACM0");
    EXPECT_EQ(lookups(), "<none> <none>");
}

TEST_F(SysfsTree, PortListHasStableNamesThenAcmThenUsbDevices) {
    // ttyS0 is listed as COM1; ttyACMx has no device number.
    for (const char* name :
         {"ttyUSB1", "ttyUSB0", "ttyACM10", "ttyACM2", "ttyS0", "ttyACMx", "tty"})
        writeFile(dev + "/" + name, "");
    addById("usb-B-if00", "../../ttyACM2");
    addById("usb-A-if00", "../../ttyUSB0");
    EXPECT_EQ(listSerialDevices(dev),
              split(dev + "/serial/by-id/usb-A-if00|" + dev + "/serial/by-id/usb-B-if00|" + dev +
                    "/ttyACM2|" + dev + "/ttyACM10|" + dev + "/ttyUSB0|" + dev + "/ttyUSB1"));
    EXPECT_TRUE(listSerialDevices(root / "missing").empty());
}

TEST(DeviceNames, NaturalOrderComparesNumbersByValue) {
    // Pairs in order; equal values with other spellings still get a strict order.
    const std::pair<const char*, const char*> kOrdered[] = {{"ttyACM2", "ttyACM10"},
                                                            {"ttyACM", "ttyACM0"},
                                                            {"a1b2", "a1b10"},
                                                            {"usb-A", "usb-B"},
                                                            {"a1", "a01"}};
    for (const auto& [a, b] : kOrdered) {
        EXPECT_TRUE(naturalLess(a, b)) << a << " " << b;
        EXPECT_FALSE(naturalLess(b, a)) << a << " " << b;
    }
    EXPECT_FALSE(naturalLess("x", "x"));
    EXPECT_EQ(deviceNumber("ttyACM12", "ttyACM"), 12);
    for (const char* name : {"ttyACM", "ttyACM1x", "ttyUSB1", "ttyACM9999999999"})
        EXPECT_EQ(deviceNumber(name, "ttyACM"), -1) << name;
}

}  // namespace
}  // namespace kestrel::test
