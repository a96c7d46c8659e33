// The Win32 serial backend under the real driver. Names of no device first; then a COM port
// as wine provides it: a pseudo-terminal linked as dosdevices/comN, with kestrel-modem-sim (a
// module at 115200) on the other side. Run by wine_case.py, which sets KESTREL_TEST_PORT to
// the port's name.
//
// What wine does with such a port, and the driver must live with: EscapeCommFunction and
// GetCommModemStatus fail (ERROR_NOT_SUPPORTED, 50).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_os.h"
#include "serial/serial_port.h"
#include "support/switchable_clock.h"
#include "support/test_image.h"
#include "support/virtual_clock.h"

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

// A read without a byte takes its 5 ms, also where the device no longer answers (a file has no
// comm state): a caller's timed read on a vanished port must not spin a core.
TEST(ReadOnWin32, AReadWithoutAByteTakesItsFiveMillisecondsAlsoOnADeviceThatIsGone) {
    const std::string path = test::writeTempFile({});
    const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
    SystemError why;
    ASSERT_TRUE(os->open(path.c_str(), &why)) << why.code;
    uint8_t b = 0;
    bool got = false;
    const DWORD start = GetTickCount();
    for (int i = 0; i < 20; ++i)
        os->readByte(&b, &got);  // the file is empty: never a byte
    const DWORD tookMs = GetTickCount() - start;
    os->close();
    DeleteFileA(path.c_str());
    EXPECT_TRUE(tookMs >= 20u * 4 && tookMs < 2000u) << tookMs;
}

std::string portName() {
    const char* name = std::getenv("KESTREL_TEST_PORT");
    return name ? name : "";
}

class WinePort : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(portName().empty()) << "KESTREL_TEST_PORT is not set (run by wine_case.py)";
        ASSERT_EQ(port_.openPort(portName().c_str(), 115200, false), 1) << portName();
    }
    void useClock(Clock& clock) { time_.to = &clock; }

    std::unique_ptr<SerialOs> os_ = createPlatformSerialOs();
    test::SwitchableClock time_;
    SerialPort port_{*os_, time_};
};

TEST_F(WinePort, TheLineSettingsReachTheDeviceUnderEitherName) {
    // A second handle on the same device (the sharing allows it) shows what the device runs.
    const std::string device = "\\\\.\\" + portName();
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    CloseHandle(h);
    // 115200 8N1, no flow control.
    EXPECT_EQ(std::vector<unsigned>({dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits,
                                     dcb.fOutxCtsFlow + dcb.fOutX + dcb.fInX + 0u}),
              std::vector<unsigned>({115200, 8, NOPARITY, ONESTOPBIT, 0}));

    port_.closePort();
    uint32_t rate = 0;
    EXPECT_TRUE(port_.openPort(device.c_str(), 57600, false) == 1 && os_->readRate(&rate));
    EXPECT_EQ(rate, 57600u);
}

TEST_F(WinePort, WithoutModemLinesTheRestartIsShortAndFails) {
    ASSERT_FALSE(os_->setDtr(true)) << "this port has modem lines: not the pty wine gives";
    bool cts = false;
    EXPECT_FALSE(os_->readCts(&cts));

    test::VirtualClock clock;
    useClock(clock);
    EXPECT_EQ(port_.waitForCts(1, 15000), 0);
    EXPECT_EQ(clock.elapsed(), 0u);  // the status cannot be read: no 15 s wait
    EXPECT_EQ(port_.restartModule(), 0);
    EXPECT_EQ(clock.elapsed(), 400u);  // DTR off 100, on 300, and the failed CTS wait
    EXPECT_EQ(port_.portLineSettings().dtrOn, true);
}

TEST_F(WinePort, AReadWaitsAtMostTheFiveMillisecondTimeout) {
    Sleep(300);  // the module boots when the port is opened (the pty's "DTR")
    ASSERT_EQ(port_.purgePort(), 1);
    uint8_t b = 0;
    const DWORD start = GetTickCount();
    int got = 0;
    for (int i = 0; i < 20; ++i)
        got += port_.readByteNow(&b);
    const DWORD tookMs = GetTickCount() - start;
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(tookMs >= 20u * 4 && tookMs < 2000u) << tookMs;  // each waited, none for long
}

}  // namespace
}  // namespace kestrel
