// Whether the chosen port is the modem's USB port: exact comparisons against the two lookups,
// and the port name a refresh looks at.
#include "ui/usb_port_detection.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

bool isUsb(const char* port, const char* attachedTo, const char* address = nullptr,
           size_t addressSize = 0) {
    FixedUsbPortLookups lookups(attachedTo, address, addressSize);
    return isModemUsbPort(port, lookups);
}

TEST(UsbPortMatch, AttachedToMatchesOnlyTheExactName) {
    EXPECT_TRUE(isUsb("COM5", "COM5"));
    EXPECT_FALSE(isUsb("COM05", "COM5"));  // no conversion of numbers
    EXPECT_FALSE(isUsb("COM5", "com5"));   // no case folding
    EXPECT_FALSE(isUsb("com5", "COM5"));
    EXPECT_FALSE(isUsb("COM5 ", "COM5"));  // no trimming
    EXPECT_FALSE(isUsb("COM5", "COM55"));
    EXPECT_FALSE(isUsb("COM55", "COM5"));
    EXPECT_FALSE(isUsb("", "COM5"));
    EXPECT_TRUE(isUsb("/dev/ttyACM0", "/dev/ttyACM0"));
    EXPECT_FALSE(isUsb("/dev/ttyacm0", "/dev/ttyACM0"));
}

TEST(UsbPortMatch, TheDeviceNamespacePrefixIsDropped) {
    EXPECT_TRUE(isUsb("\\\\.\\COM5", "COM5"));
    EXPECT_TRUE(isUsb("\\\\.\\COM12", "COM12"));
    EXPECT_FALSE(isUsb("\\\\.\\COM5", "\\\\.\\COM5"));  // the lookup's text is not changed
    // Exactly the four characters is no name with a prefix: it stays and is compared whole.
    EXPECT_TRUE(isUsb("\\\\.\\", "\\\\.\\"));
    EXPECT_FALSE(isUsb("\\\\.\\", ""));
    // Only at the start, and only once.
    EXPECT_FALSE(isUsb("x\\\\.\\COM5", "COM5"));
    EXPECT_FALSE(isUsb("\\\\.\\\\\\.\\COM5", "COM5"));
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

TEST(UsbPortMatch, OnlyTheFirstAddressTextTakesPart) {
    const char address[] = "COM7\0COM8\0COM9";
    EXPECT_TRUE(isUsb("COM7", nullptr, address, sizeof address));
    EXPECT_FALSE(isUsb("COM8", nullptr, address, sizeof address));
    EXPECT_FALSE(isUsb("COM9", nullptr, address, sizeof address));
    // An AttachedTo that names another port does not hide the address.
    EXPECT_TRUE(isUsb("COM7", "COM3", address, sizeof address));
}

TEST(UsbPortMatch, WithoutLookupsNoPortIsTheUsbPort) {
    EXPECT_FALSE(isUsb("COM1", nullptr, nullptr));
    EXPECT_FALSE(isUsb("", nullptr, nullptr));
}

std::string nameFor(RefreshReason reason, const char* field, int index, const char* entry) {
    char name[kTextCapacity];
    refreshPortName(reason, field, index, entry, name);
    return name;
}

TEST(UsbRefreshName, SelectionTakesTheNameFromTheList) {
    // The first nine entries are named from the index, whatever the field shows.
    EXPECT_EQ(nameFor(RefreshReason::SelectionChanged, "COM7", 2, "COM3"), "COM3");
    EXPECT_EQ(nameFor(RefreshReason::SelectionChanged, "x", 0, "?"), "COM1");
    EXPECT_EQ(nameFor(RefreshReason::SelectionChanged, "x", 8, "?"), "COM9");
    // The devices behind them by their own text.
    EXPECT_EQ(nameFor(RefreshReason::SelectionChanged, "COM1", 9, "/dev/ttyACM0"), "/dev/ttyACM0");
}

TEST(UsbRefreshName, OtherReasonsTakeTheFieldsText) {
    EXPECT_EQ(nameFor(RefreshReason::Initialisation, "COM12", 3, "COM4"), "COM12");
    EXPECT_EQ(nameFor(RefreshReason::FocusLost, "\\\\.\\COM5", -1, nullptr), "\\\\.\\COM5");
    const std::string longName(300, 'x');
    EXPECT_EQ(nameFor(RefreshReason::FocusLost, longName.c_str(), -1, nullptr),
              std::string(259, 'x'));
}

}  // namespace
}  // namespace kestrel
