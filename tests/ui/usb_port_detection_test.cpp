// Whether the chosen port is the modem's USB port: exact comparisons against the two lookups.
// The port name a refresh looks at (field or list entry) is the windows' tests'.
#include "ui/usb_port_detection.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

TEST(UsbPortMatch, ThePortMustEqualALookupsTextExactly) {
    // Port, AttachedTo (null: none), whether it is the USB port. No conversion of numbers, no
    // case folding, no trimming; a leading "\\.\" is dropped from the port (once, and not from
    // a name that is just the prefix), never from the lookup's text.
    // clang-format off
    const char* const kCases[][3] = {
        {"COM5", "COM5", "usb"}, {"COM05", "COM5", ""}, {"COM5", "com5", ""}, {"com5", "COM5", ""},
        {"COM5 ", "COM5", ""}, {"COM5", "COM55", ""}, {"COM55", "COM5", ""}, {"", "COM5", ""},
        {"/dev/ttyACM0", "/dev/ttyACM0", "usb"}, {"/dev/ttyacm0", "/dev/ttyACM0", ""},
        {"\\\\.\\COM5", "COM5", "usb"}, {"\\\\.\\COM12", "COM12", "usb"},
        {"\\\\.\\COM5", "\\\\.\\COM5", ""}, {"\\\\.\\", "\\\\.\\", "usb"}, {"\\\\.\\", "", ""},
        {"x\\\\.\\COM5", "COM5", ""}, {"\\\\.\\\\\\.\\COM5", "COM5", ""},
        {"COM1", nullptr, ""}, {"", nullptr, ""}};
    // clang-format on
    for (const auto& c : kCases) {
        FixedUsbPortLookups lookups(c[1], nullptr);
        EXPECT_EQ(isModemUsbPort(c[0], lookups), *c[2] != 0) << c[0] << " / " << c[1];
    }
    // Only the first of the Address texts takes part; an AttachedTo that names another port
    // does not hide it.
    const char address[] = "COM7\0COM8\0COM9";
    for (const char* attachedTo : {"", "COM3"}) {
        for (const char* port : {"COM7", "COM8", "COM9"}) {
            FixedUsbPortLookups lookups(*attachedTo ? attachedTo : nullptr, address,
                                        sizeof address);
            EXPECT_EQ(isModemUsbPort(port, lookups), port[3] == '7') << port << attachedTo;
        }
    }
}

TEST(UsbPortMatch, AddressIsAskedOnlyWhenAttachedToDoesNotMatch) {
    FixedUsbPortLookups both("COM5", "COM7");
    EXPECT_TRUE(isModemUsbPort("COM5", both));
    EXPECT_EQ(both.queries(), 1);
    EXPECT_TRUE(isModemUsbPort("COM7", both));
    EXPECT_EQ(both.queries(), 3);
    EXPECT_FALSE(isModemUsbPort("COM6", both));
    EXPECT_EQ(both.queries(), 5);  // nothing cached: each refresh asks again
}

}  // namespace
}  // namespace kestrel
