// Line rate, modem lines and line errors on a real pty: rates the slave really runs at
// (read through the master), refused rates, and the modem-control calls a pty lacks.
#include "serial/termios2_posix.h"
#include "serial_posix/posix_tree.h"
#include "support/virtual_clock.h"

namespace kestrel::test {
namespace {

class PtyLineTest : public PtyPortTest {
  protected:
    // Both of the slave's rates are `rate`, and the driver reports it where asked to.
    void expectSlaveAt(uint32_t rate, bool reported = true) {
        uint32_t in = 0, out = 0;
        ASSERT_TRUE(slaveRates(master_, &in, &out));
        EXPECT_EQ(std::make_pair(in, out), std::make_pair(rate, rate));
        EXPECT_EQ(reported ? port_.portLineSettings().rate : rate, rate);
    }
    VirtualClock clock_;
};

// Open and a rate switch (with its settling waits) each run the slave at the rate, in RS-232
// and USB mode, the input rate too even where another program split it off.
TEST_F(PtyLineTest, OpenAndRateSwitchRunTheSlaveAtAnyWholeRate) {
    useClock(clock_);
    const uint32_t rates[] = {115200, 460800, 921600, 123456, 9600, 12000000, 57600, 19200};
    for (size_t i = 0; i + 1 < std::size(rates); ++i) {
        SCOPED_TRACE(rates[i]);
        ASSERT_TRUE(leaveStaleInputRate(master_));
        ASSERT_EQ(port_.openPort(slave(), rates[i], i % 2 == 1), 1);
        expectSlaveAt(rates[i]);
        ASSERT_TRUE(leaveStaleInputRate(master_));
        const uint32_t start = clock_.nowMs();
        EXPECT_EQ(port_.setBaudRate(rates[i + 1]), 1);
        EXPECT_EQ(clock_.nowMs() - start, 2400u);
        expectSlaveAt(rates[i + 1]);
        port_.closePort();
    }
}

TEST_F(PtyLineTest, RatesThatAreNoRateAreRefused) {
    const int before = openDescriptorCount();
    // 0 would mean "hang up"; the others are negative rates as an int passes them.
    for (uint32_t rate : {0u, static_cast<uint32_t>(-9600), 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(port_.openPort(slave(), rate, false), 0) << rate;
        EXPECT_FALSE(port_.portIsOpen());
        EXPECT_EQ(openDescriptorCount(), before);
    }
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    useClock(clock_);
    for (uint32_t rate : {0u, static_cast<uint32_t>(-1)}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(port_.setBaudRate(rate), 0);
        EXPECT_EQ(clock_.elapsed(), 0u);  // no settling wait, no DTR pulse
        expectSlaveAt(115200, false);
    }
    EXPECT_TRUE(port_.portIsOpen());
}

TEST(PosixReadBackRate, WithinOnePercentCountsAsTheRequest) {
    const uint32_t cases[][3] = {
        // requested, read back, reported
        {115200, 115200, 115200}, {115200, 115107, 115200},       {115200, 116352, 115200},
        {115200, 114048, 115200}, {115200, 116353, 116353},       {115200, 114047, 114047},
        {460800, 9600, 9600},     {12000000, 12000000, 12000000}, {0xFFFFFFFFu, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reportedRate(c[0], c[1]), c[2]) << c[0] << " read back as " << c[1];
}

// A pty has no modem lines and no error counters: the calls that need them fail, and the
// driver acts on that.
TEST_F(PtyLineTest, WithoutModemLinesTheCtsWaitEndsAtOnceAndBytesStillArrive) {
    ASSERT_EQ(port_.openPort(slave(), 115200, true), 1);
    const double start = wallMs();
    EXPECT_EQ(port_.waitForCts(1, 15000), 0);
    EXPECT_LT(wallMs() - start, 100.0);
    bool flag = true;
    EXPECT_FALSE(os_->readCts(&flag));
    EXPECT_FALSE(os_->setDtr(true));
    EXPECT_FALSE(os_->setDtr(false));
    EXPECT_FALSE(os_->takeLineErrors(&flag));

    const uint8_t ack = 0x01;
    ASSERT_TRUE(send(&ack, 1));
    uint8_t b = 0;
    ASSERT_EQ(port_.readByteChecked(&b, 500), 1);
    EXPECT_EQ(b, 0x01);
}

}  // namespace
}  // namespace kestrel::test
