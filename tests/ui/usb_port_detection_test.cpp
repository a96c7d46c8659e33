// Whether the chosen port is the modem's USB port: exact comparisons against the two lookups,
// and the port name a refresh looks at.
#include "ui/usb_port_detection.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

const char kAddress[] = "COM7\0COM8\0COM9";  // only the first text takes part

TEST(UsbPortMatch, ThePortMustEqualALookupsTextExactly) {
    struct Case {
        const char* port;
        const char* attachedTo;
        bool withAddress;
        bool usb;
    };
    const Case kCases[] = {
        {"COM5", "COM5", false, true},
        {"COM05", "COM5", false, false},  // no conversion of numbers
        {"COM5", "com5", false, false},   // no case folding
        {"com5", "COM5", false, false},
        {"COM5 ", "COM5", false, false},  // no trimming
        {"COM5", "COM55", false, false},
        {"COM55", "COM5", false, false},
        {"", "COM5", false, false},
        {"/dev/ttyACM0", "/dev/ttyACM0", false, true},
        {"/dev/ttyacm0", "/dev/ttyACM0", false, false},
        // The device-namespace prefix is dropped from the port, not from the lookup's text.
        {"\\\\.\\COM5", "COM5", false, true},
        {"\\\\.\\COM12", "COM12", false, true},
        {"\\\\.\\COM5", "\\\\.\\COM5", false, false},
        // Exactly the four characters is no name with a prefix: it is compared whole.
        {"\\\\.\\", "\\\\.\\", false, true},
        {"\\\\.\\", "", false, false},
        // Only at the start, and only once.
        {"x\\\\.\\COM5", "COM5", false, false},
        {"\\\\.\\\\\\.\\COM5", "COM5", false, false},
        {"COM7", nullptr, true, true},
        {"COM8", nullptr, true, false},
        {"COM9", nullptr, true, false},
        {"COM7", "COM3", true, true},  // an AttachedTo naming another port hides nothing
        {"COM1", nullptr, false, false},
        {"", nullptr, false, false},
    };
    for (const Case& c : kCases) {
        FixedUsbPortLookups lookups(c.attachedTo, c.withAddress ? kAddress : nullptr,
                                    c.withAddress ? sizeof kAddress : 0);
        EXPECT_EQ(isModemUsbPort(c.port, lookups), c.usb)
            << c.port << " / " << (c.attachedTo ? c.attachedTo : "none");
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

TEST(UsbRefreshName, SelectionTakesTheNameFromTheListOtherReasonsFromTheField) {
    const std::string longName(300, 'x');
    struct Case {
        RefreshReason reason;
        const char* field;
        int index;
        const char* entry;
        std::string name;
    };
    const Case kCases[] = {
        // The first nine entries are named from the index, whatever the field shows.
        {RefreshReason::SelectionChanged, "COM7", 2, "COM3", "COM3"},
        {RefreshReason::SelectionChanged, "x", 0, "?", "COM1"},
        {RefreshReason::SelectionChanged, "x", 8, "?", "COM9"},
        // The devices behind them by their own text.
        {RefreshReason::SelectionChanged, "COM1", 9, "/dev/ttyACM0", "/dev/ttyACM0"},
        {RefreshReason::Initialisation, "COM12", 3, "COM4", "COM12"},
        {RefreshReason::FocusLost, "\\\\.\\COM5", -1, nullptr, "\\\\.\\COM5"},
        {RefreshReason::FocusLost, longName.c_str(), -1, nullptr, std::string(259, 'x')},
    };
    for (const Case& c : kCases) {
        char name[kTextCapacity];
        refreshPortName(c.reason, c.field, c.index, c.entry, name);
        EXPECT_EQ(name, c.name) << c.field << " " << c.index;
    }
}

}  // namespace
}  // namespace kestrel
