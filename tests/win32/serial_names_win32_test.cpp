// Port names the Win32 serial backend cannot open, and what it says about them. Needs no
// port: every name here names no device.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "serial/serial_os.h"
#include "serial/serial_port.h"
#include "support/test_image.h"

namespace kestrel {
namespace {

TEST(OpenPortOnWin32, AMissingPortKeepsTheReasonAndPathAFileThatIsNoDeviceIsReleased) {
    const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
    SerialPort port(*os, systemClock());
    EXPECT_EQ(port.openPort("COM231", 115200, false), 0);
    EXPECT_NE(port.lastError().code, 0);
    EXPECT_STREQ(port.lastError().path, "\\\\.\\COM231");
    char text[300];
    describeSystemError(port.lastError(), text, sizeof text);
    EXPECT_NE(std::string(text).find("\\\\.\\COM231: "), std::string::npos) << text;

    const std::string path = test::writeTempFile({1, 2, 3});
    EXPECT_EQ(port.openPort(path.c_str(), 115200, false), 0);  // opens, but refuses the settings
    EXPECT_FALSE(port.portIsOpen());
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);  // nobody holds the file now
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace kestrel
