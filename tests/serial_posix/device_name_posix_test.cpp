#include "serial/device_name_posix.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

std::string mapped(const std::string& name, size_t capacity = 272) {
    std::string out(capacity, '#');
    if (!posixDeviceName(name.c_str(), out.data(), capacity)) return "<none>";
    return out.c_str();
}

// COMn counts from zero under /dev/ttyS; exactly the four characters \\.\ are dropped, as
// often as they come; names that are no COM port go under /dev; paths stay as they are.
TEST(PosixDeviceName, MapsComPortsDropsThePrefixAndKeepsPaths) {
    EXPECT_EQ(mapped("COM1"), "/dev/ttyS0");
    EXPECT_EQ(mapped("com3"), "/dev/ttyS2");
    EXPECT_EQ(mapped("CoM12"), "/dev/ttyS11");
    EXPECT_EQ(mapped("COM01"), "/dev/ttyS0");
    EXPECT_EQ(mapped("COM256"), "/dev/ttyS255");
    EXPECT_EQ(mapped("\\\\.\\COM12"), "/dev/ttyS11");
    EXPECT_EQ(mapped("\\\\.\\com1"), "/dev/ttyS0");
    EXPECT_EQ(mapped("\\\\.\\\\\\.\\COM5"), "/dev/ttyS4");
    EXPECT_EQ(mapped("\\\\.\\ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(mapped("\\\\.\\/dev/ttyUSB2"), "/dev/ttyUSB2");
    EXPECT_EQ(mapped("\\\\COM1"), "/dev/\\\\COM1");
    EXPECT_EQ(mapped("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(mapped("COM0"), "/dev/COM0");
    EXPECT_EQ(mapped("COM"), "/dev/COM");
    EXPECT_EQ(mapped("COM1a"), "/dev/COM1a");
    EXPECT_EQ(mapped("COM-1"), "/dev/COM-1");
    EXPECT_EQ(mapped("COM 1"), "/dev/COM 1");
    EXPECT_EQ(mapped("XCOM1"), "/dev/XCOM1");
    EXPECT_EQ(mapped("COM99999999999999999999"), "/dev/COM99999999999999999999");
    EXPECT_EQ(mapped("/dev/ttyUSB1"), "/dev/ttyUSB1");
    EXPECT_EQ(mapped("./COM1"), "./COM1");
    EXPECT_EQ(mapped("pts/3"), "pts/3");
}

TEST(PosixDeviceName, EmptyNamesAndResultsTooLongForTheBufferMapToNothing) {
    EXPECT_EQ(mapped(""), "<none>");
    EXPECT_EQ(mapped("\\\\.\\"), "<none>");
    EXPECT_EQ(mapped("\\\\.\\\\\\.\\"), "<none>");
    char out[8];
    EXPECT_FALSE(posixDeviceName(nullptr, out, sizeof out));
    EXPECT_FALSE(posixDeviceName("COM1", nullptr, 8));
    EXPECT_FALSE(posixDeviceName("COM1", out, 0));

    EXPECT_EQ(mapped("COM1", 11), "/dev/ttyS0");  // 10 characters and the NUL
    EXPECT_EQ(mapped("COM1", 10), "<none>");
    EXPECT_EQ(mapped("ttyUSB0", 13), "/dev/ttyUSB0");
    EXPECT_EQ(mapped("ttyUSB0", 12), "<none>");
    EXPECT_EQ(mapped("/dev/x", 7), "/dev/x");
    EXPECT_EQ(mapped("/dev/x", 6), "<none>");
    // A full 259-character field fits the driver's buffer under /dev, one 267 long does not.
    EXPECT_EQ(mapped(std::string(259, 'a')), "/dev/" + std::string(259, 'a'));
    EXPECT_EQ(mapped(std::string(267, 'a')), "<none>");
}

}  // namespace
}  // namespace kestrel
