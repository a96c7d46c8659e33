// Port names the Win32 serial backend cannot open, and the device-namespace form it retries
// with. Needs no port: every name here names no device.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serial/serial_os.h"
#include "serial/serial_port.h"
#include "support/test_image.h"

namespace kestrel {
namespace {

TEST(DeviceNamespaceForm, PrefixesEvenAPrefixedNameAndNeverWritesPastTheBuffer) {
    SerialOs& os = platformSerialOs();
    char out[300];
    ASSERT_TRUE(os.deviceNamespaceForm("COM5", out, sizeof out));
    EXPECT_STREQ(out, "\\\\.\\COM5");
    ASSERT_TRUE(os.deviceNamespaceForm("\\\\.\\COM5", out, sizeof out));
    EXPECT_STREQ(out, "\\\\.\\\\\\.\\COM5");

    const std::string name(259, 'C');
    EXPECT_TRUE(os.deviceNamespaceForm(name.c_str(), out, 264));  // 4 + 259 + NUL
    EXPECT_EQ(std::strlen(out), 263u);
    std::memset(out, '#', sizeof out);
    EXPECT_FALSE(os.deviceNamespaceForm(name.c_str(), out, 263));
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
}

TEST(OpenPortOnWin32, AFileThatIsNoSerialDeviceIsRefusedAndReleased) {
    const std::string path = test::writeTempFile({1, 2, 3});
    EXPECT_EQ(openPort(path.c_str(), 115200, false), 0);  // opens, but refuses the settings
    EXPECT_FALSE(portIsOpen());
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);  // nobody holds the file now
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace kestrel
