// Line rate, modem lines and line errors on a real pty: rates the slave really runs at
// (read through the master), refused rates, and the modem-control calls a pty lacks.
#include <thread>

#include "serial/termios2_posix.h"
#include "serial_posix/port_fixture.h"

namespace kestrel::test {
namespace {

using PtyLineTest = PtyPortTest;

TEST_F(PtyLineTest, OpenRunsTheSlaveAtAnyWholeRate) {
    for (uint32_t rate : {115200u, 460800u, 921600u, 123456u, 9600u, 12000000u, 57600u}) {
        SCOPED_TRACE(rate);
        // The input rate must follow even where another program split it off.
        ASSERT_TRUE(leaveStaleInputRate(pty_.master()));
        ASSERT_EQ(openPort(pty_.slavePath(), rate, false), 1);
        uint32_t in = 0, out = 0;
        ASSERT_TRUE(slaveRates(pty_.master(), &in, &out));
        EXPECT_EQ(out, rate);
        EXPECT_EQ(in, rate);
        EXPECT_EQ(portLineSettings().rate, rate);
        closePort();
    }
}

TEST_F(PtyLineTest, SetBaudRateMovesTheSlaveAndSettles) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, true), 1);
    StepClock virtualTime;
    setClock(&virtualTime);
    for (uint32_t rate : {921600u, 123456u, 19200u}) {
        SCOPED_TRACE(rate);
        const uint32_t start = virtualTime.nowMs();
        EXPECT_EQ(setBaudRate(rate), 1);
        EXPECT_EQ(virtualTime.nowMs() - start, 2400u);
        uint32_t in = 0, out = 0;
        ASSERT_TRUE(slaveRates(pty_.master(), &in, &out));
        EXPECT_EQ(out, rate);
        EXPECT_EQ(in, rate);
        EXPECT_EQ(portLineSettings().rate, rate);
    }
}

TEST_F(PtyLineTest, RatesThatAreNoRateAreRefused) {
    const int before = openDescriptorCount();
    // 0 would mean "hang up"; the others are negative rates as an int passes them.
    for (uint32_t rate : {0u, static_cast<uint32_t>(-9600), 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(openPort(pty_.slavePath(), rate, false), 0);
        EXPECT_FALSE(portIsOpen());
        EXPECT_EQ(openDescriptorCount(), before);
    }

    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    StepClock virtualTime;
    setClock(&virtualTime);
    for (uint32_t rate : {0u, static_cast<uint32_t>(-1)}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(setBaudRate(rate), 0);
        EXPECT_EQ(virtualTime.nowMs(), 0u);  // no settling wait, no DTR pulse
        uint32_t in = 0, out = 0;
        ASSERT_TRUE(slaveRates(pty_.master(), &in, &out));
        EXPECT_EQ(out, 115200u);
    }
    EXPECT_TRUE(portIsOpen());
}

TEST(PosixReadBackRate, WithinOnePercentCountsAsTheRequest) {
    EXPECT_EQ(reportedRate(115200, 115200), 115200u);
    EXPECT_EQ(reportedRate(115200, 115107), 115200u);
    EXPECT_EQ(reportedRate(115200, 116352), 115200u);  // exactly 1% off
    EXPECT_EQ(reportedRate(115200, 114048), 115200u);
    EXPECT_EQ(reportedRate(115200, 116353), 116353u);
    EXPECT_EQ(reportedRate(115200, 114047), 114047u);
    EXPECT_EQ(reportedRate(460800, 9600), 9600u);
    EXPECT_EQ(reportedRate(12000000, 12000000), 12000000u);
    EXPECT_EQ(reportedRate(0xFFFFFFFFu, 0), 0u);
}

// A pty has no modem lines: the calls that need them fail, and the driver acts on that.
TEST_F(PtyLineTest, WithoutModemLinesTheCtsWaitEndsAtOnce) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, true), 1);
    const double start = wallMs();
    EXPECT_EQ(waitForCts(1, 15000), 0);
    EXPECT_LT(wallMs() - start, 100.0);

    bool cts = true;
    EXPECT_FALSE(platformSerialOs().readCts(&cts));
    EXPECT_FALSE(platformSerialOs().setDtr(true));
    EXPECT_FALSE(platformSerialOs().setDtr(false));
}

TEST_F(PtyLineTest, FailedLineErrorQueryKeepsTheByte) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    bool any = false;
    EXPECT_FALSE(platformSerialOs().takeLineErrors(&any));

    const uint8_t start = 0x01;
    ASSERT_TRUE(pty_.send(&start, 1));
    uint8_t b = 0;
    ASSERT_EQ(readByteChecked(&b, 500), 1);
    EXPECT_EQ(b, 0x01);
}

TEST_F(PtyLineTest, OperationsOnAClosedPortFail) {
    SerialOs& os = platformSerialOs();
    LineSettings s = makeLineSettings(115200, false);
    uint32_t rate = 0;
    bool flag = false;
    uint8_t b = 0;
    EXPECT_FALSE(os.applySettings(s));
    EXPECT_FALSE(os.readRate(&rate));
    EXPECT_FALSE(os.applyTimeouts());
    EXPECT_FALSE(os.purge());
    EXPECT_FALSE(os.takeLineErrors(&flag));
    EXPECT_FALSE(os.readByte(&b, &flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(os.write(&b, 1), 0u);
    os.close();
}

TEST_F(PtyLineTest, SettingsATerminalCannotCarryAreRefused) {
    ASSERT_TRUE(platformSerialOs().open(pty_.slavePath()));
    LineSettings s = makeLineSettings(115200, false);
    s.dataBits = 7;  // the pty forces 8 data bits
    EXPECT_FALSE(platformSerialOs().applySettings(s));
    s = makeLineSettings(115200, false);
    s.outxDsrFlow = true;  // termios has no DSR flow control
    EXPECT_FALSE(platformSerialOs().applySettings(s));
    s = makeLineSettings(115200, false);
    EXPECT_TRUE(platformSerialOs().applySettings(s));
    platformSerialOs().close();
}

}  // namespace
}  // namespace kestrel::test
