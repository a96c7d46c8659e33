// The Win32 serial backend under the real driver, against a COM port as wine provides it: a
// pseudo-terminal linked as dosdevices/comN, with kestrel-modem-sim (a module at 115200) on
// the other side. Run by wine_case.py, which sets KESTREL_TEST_PORT to the port's name.
//
// What wine does with such a port, and the driver must live with: EscapeCommFunction and
// GetCommModemStatus fail (ERROR_NOT_SUPPORTED, 50), and a rate the pty cannot take is
// silently read back as 38400.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "modem/at_command.h"
#include "serial/serial_os.h"
#include "serial/serial_port.h"
#include "support/virtual_clock.h"

namespace kestrel {
namespace {

std::string portName() {
    const char* name = std::getenv("KESTREL_TEST_PORT");
    return name ? name : "";
}

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

LARGE_INTEGER counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

class WinePort : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(portName().empty()) << "KESTREL_TEST_PORT is not set (run by wine_case.py)";
        ASSERT_EQ(openPort(portName().c_str(), 115200, false), 1) << portName();
    }
    void TearDown() override {
        setClock(nullptr);
        closePort();
    }
    // The module boots when the port is opened (the pty's "DTR"); give it the time.
    static void letTheModuleBoot() { Sleep(300); }
};

TEST_F(WinePort, OpensWithTheFramingOfTheLineSettings) {
    EXPECT_TRUE(portIsOpen());
    // A second handle on the same device (the sharing allows it) shows what the device runs.
    const std::string device = "\\\\.\\" + portName();
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    CloseHandle(h);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
}

TEST_F(WinePort, TheDeviceNamespaceFormOpensTheSamePort) {
    closePort();
    const std::string device = "\\\\.\\" + portName();
    EXPECT_EQ(openPort(device.c_str(), 57600, false), 1);
    uint32_t rate = 0;
    EXPECT_TRUE(platformSerialOs().readRate(&rate));
    EXPECT_EQ(rate, 57600u);
}

TEST_F(WinePort, ARateThePortTakesIsSetAndSettledWithItsPulse) {
    test::VirtualClock clock;
    setClock(&clock);
    EXPECT_EQ(setBaudRate(460800), 1);
    EXPECT_EQ(clock.elapsed(), 2400u);  // 1500, DTR off 400, 500
    uint32_t rate = 0;
    EXPECT_TRUE(platformSerialOs().readRate(&rate));
    EXPECT_EQ(rate, 460800u);
    EXPECT_EQ(portLineSettings().rate, 460800u);
}

TEST_F(WinePort, ARateThePortCannotTakeIsReportedAsAnotherRateAtOnce) {
    test::VirtualClock clock;
    setClock(&clock);
    EXPECT_EQ(setBaudRate(123456), 0);
    EXPECT_EQ(clock.elapsed(), 0u);              // no settling wait, no pulse
    EXPECT_EQ(portLineSettings().rate, 38400u);  // what wine made of it
    EXPECT_EQ(setBaudRate(115200), 1);           // and the port is still usable
}

TEST_F(WinePort, WithoutModemLinesTheRestartIsShortAndFails) {
    SerialOs& os = platformSerialOs();
    SetLastError(0);
    if (os.setDtr(true)) GTEST_SKIP() << "this port has modem lines: not the pty wine gives";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    bool cts = false;
    EXPECT_FALSE(os.readCts(&cts));

    test::VirtualClock clock;
    setClock(&clock);
    EXPECT_EQ(waitForCts(1, 15000), 0);
    EXPECT_EQ(clock.elapsed(), 0u);  // the status cannot be read: no 15 s wait
    EXPECT_EQ(restartModule(), 0);
    EXPECT_EQ(clock.elapsed(), 400u);  // DTR off 100, on 300, and the failed CTS wait
    EXPECT_EQ(portLineSettings().dtrMode, LineMode::Enable);
}

TEST_F(WinePort, BytesTravelBothWaysAndTheModuleAnswers) {
    letTheModuleBoot();
    EXPECT_EQ(purgePort(), 1);
    EXPECT_EQ(probeAtMode(), 1);
    char reply[260];
    EXPECT_EQ(sendAtCommand("AT+IPR?\r", reply, sizeof reply), 1) << reply;
    EXPECT_NE(std::strstr(reply, "+IPR: 115200"), nullptr) << reply;
}

TEST_F(WinePort, AReadWaitsAtMostTheFiveMillisecondTimeout) {
    letTheModuleBoot();
    EXPECT_EQ(purgePort(), 1);
    uint8_t b = 0;
    const LARGE_INTEGER start = counterNow();
    int got = 0;
    for (int i = 0; i < 20; ++i)
        got += readByteNow(&b);
    const double seconds = secondsSince(start);
    EXPECT_EQ(got, 0);
    EXPECT_GE(seconds, 20 * 0.004);  // each read waited, none returned at once
    EXPECT_LT(seconds, 2.0);

    const LARGE_INTEGER timed = counterNow();
    EXPECT_EQ(readByteTimed(&b, 50), 0);
    EXPECT_GE(secondsSince(timed), 0.045);
}

TEST_F(WinePort, AByteThatIsThereIsReadAtOnceWithOrWithoutTheErrorCheck) {
    letTheModuleBoot();
    purgePort();
    const uint8_t command[] = {'A', 'T', '\r'};
    ASSERT_EQ(writeBytes(command, sizeof command), sizeof command);
    uint8_t b = 0;
    ASSERT_EQ(readByteChecked(&b, 1000), 1);  // the line-error query works on this port
    EXPECT_EQ(b, 'A');                        // the echo
    ASSERT_EQ(readByteTimed(&b, 1000), 1);
    EXPECT_EQ(b, 'T');
    bool anyError = true;
    EXPECT_TRUE(platformSerialOs().takeLineErrors(&anyError));
    EXPECT_FALSE(anyError);
}

TEST_F(WinePort, WritesHandOverEveryByteAndNothingForACountOfZero) {
    uint8_t record[256];
    for (int i = 0; i < 256; ++i)
        record[i] = static_cast<uint8_t>(i);
    record[0] = 255;
    EXPECT_EQ(writeBytes(record, 0), 0);
    EXPECT_EQ(writeBytes(record, sizeof record), 256);
    EXPECT_EQ(purgePort(), 1);
}

TEST_F(WinePort, ClosingReleasesTheDeviceAndAClosedPortFailsWithoutEffect) {
    closePort();
    closePort();
    EXPECT_FALSE(portIsOpen());
    uint8_t b = 0;
    const uint8_t byte = 'A';
    EXPECT_EQ(writeBytes(&byte, 1), 0);
    EXPECT_EQ(readByteNow(&b), 0);
    EXPECT_EQ(purgePort(), 0);
    EXPECT_EQ(setBaudRate(57600), 0);
    EXPECT_EQ(openPort(portName().c_str(), 115200, true), 1);  // free to be opened again
    EXPECT_EQ(portLineSettings().dtrMode, LineMode::Enable);   // the USB port's DTR
}

}  // namespace
}  // namespace kestrel
