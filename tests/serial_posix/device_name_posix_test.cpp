#include "serial/device_name_posix.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

// The path, or the reason the name maps to none.
std::string mapped(const char* name, size_t capacity = 272) {
    std::string out(capacity, '#');
    const char* refusal = posixDeviceName(name, out.data(), capacity);
    return refusal != nullptr ? std::string("<") + refusal + ">" : out.c_str();
}

// COMn (any case) counts from zero under /dev/ttyS; other bare names go under /dev; only
// absolute paths stay as they are: a relative one would depend on the working directory
// (more relative names: PtyOpenTest.WhatIsNoSerialPortIsRefusedWithItsReason).
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

}  // namespace
}  // namespace kestrel
