// The line on a real pty: every byte value unchanged both ways, writes that outgrow the
// kernel's buffer, purging, the rates the slave really runs at (read through the master),
// refused rates, the read attempt's wait and a hung-up line.
#include <numeric>
#include <thread>
#include <vector>

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

TEST_F(PtyLineTest, EveryByteValuePassesUnchangedBothWaysAndAPurgeDropsInput) {
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    std::vector<uint8_t> sent(256), got(256);
    std::iota(sent.begin(), sent.end(), 0);
    // Tool to module first: after a 0x13 taken as XOFF, the tool's output would stop.
    EXPECT_EQ(port_.writeBytes(sent.data(), 256), 256);
    EXPECT_EQ(receive(got.data(), got.size()), sent.size());
    EXPECT_EQ(got, sent);
    // The checked read: a pty has no error counters, and no byte is dropped for want of them.
    ASSERT_TRUE(send(sent.data(), sent.size()));
    for (uint8_t& b : got)
        ASSERT_EQ(port_.readByteChecked(&b, 500), 1);
    EXPECT_EQ(got, sent);
    // A purge discards what waits to be read.
    uint8_t b = 0;
    ASSERT_TRUE(send(sent.data() + 'A', 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let the pty deliver them
    EXPECT_EQ(port_.purgePort(), 1);
    EXPECT_EQ(port_.readByteTimed(&b, 30), 0);
    ASSERT_TRUE(send(sent.data() + 'O', 1));
    ASSERT_EQ(port_.readByteTimed(&b, 500), 1);
    EXPECT_EQ(b, 'O');

    // A write larger than the pty's buffer (about 18 KB) waits for room: the far end starts
    // reading only after it is full.
    std::vector<uint8_t> large(65535), received(large.size());
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        received.resize(receive(received.data(), received.size(), 3000));
    });
    EXPECT_EQ(port_.writeBytes(large.data(), 65535), 65535);
    reader.join();
    EXPECT_EQ(received, large);
}

// A read attempt waits its 5 ms on a silent line, and on a hung-up one, which answers poll()
// at once, every time: without care, a timed read there spins.
TEST_F(PtyLineTest, ReadsWaitOutTheirTimeWithoutSpinningAndAHungUpLineEndsWrites) {
    ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    uint8_t b = 0;
    for (const bool hungUp : {false, true}) {
        SCOPED_TRACE(hungUp ? "hung up" : "silent");
        if (hungUp) closeMaster();
        const double wall0 = wallMs(), cpu0 = msOf(CLOCK_PROCESS_CPUTIME_ID);
        EXPECT_EQ(port_.readByteTimed(&b, 200), 0);
        const double wall = wallMs() - wall0, cpu = msOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        EXPECT_GE(wall, 199.0);
        EXPECT_LT(wall, 600.0);
        EXPECT_LT(cpu, 0.5 * wall);
        // Ten single reads: ten of 5 ms stay far below ten of 50.
        const double single0 = wallMs();
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(port_.readByteNow(&b), 0);
        EXPECT_GE(wallMs() - single0, 10 * 4.0);
        EXPECT_LT(wallMs() - single0, 250.0);
    }
    // A write ends at once and counts what was taken.
    const std::vector<uint8_t> bytes(100, 0x55);
    const double write0 = wallMs();
    EXPECT_EQ(port_.writeBytes(bytes.data(), 100), 0);
    EXPECT_LT(wallMs() - write0, 100.0);
}

// Open and a rate switch (its settling waits on the test's clock) each run the slave at any
// whole rate, in RS-232 and USB mode, the input rate too even where another program split it
// off; rates that are no rate are refused and leave the port as it was.
TEST_F(PtyLineTest, RunsTheSlaveAtAnyWholeRateAndRefusesRatesThatAreNoRate) {
    useClock(clock_);
    const int before = openDescriptorCount();
    // 0 would mean "hang up"; the others are negative rates as an int passes them.
    for (uint32_t rate : {0u, static_cast<uint32_t>(-9600), 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(port_.openPort(slave(), rate, false), 0) << rate;
        EXPECT_EQ(openDescriptorCount(), before);
    }
    const uint32_t rates[] = {115200, 460800, 921600, 123456, 9600, 12000000, 57600, 19200};
    for (size_t i = 0; i + 1 < std::size(rates); ++i) {
        SCOPED_TRACE(rates[i]);
        ASSERT_TRUE(leaveStaleInputRate(master_));
        ASSERT_EQ(port_.openPort(slave(), rates[i], i % 2 == 1), 1);
        expectSlaveAt(rates[i]);
        ASSERT_TRUE(leaveStaleInputRate(master_));
        EXPECT_EQ(port_.setBaudRate(rates[i + 1]), 1);
        expectSlaveAt(rates[i + 1]);
        port_.closePort();
    }
    ASSERT_EQ(port_.openPort(slave(), 115200, true), 1);
    const uint32_t start = clock_.nowMs();
    for (uint32_t rate : {0u, static_cast<uint32_t>(-1)}) {
        EXPECT_EQ(port_.setBaudRate(rate), 0) << rate;
        expectSlaveAt(115200, false);
    }
    EXPECT_TRUE(port_.portIsOpen());
    // A pty has no modem lines: the CTS wait ends at once, not after its 15 s.
    EXPECT_EQ(port_.waitForCts(1, 15000), 0);
    EXPECT_EQ(clock_.nowMs() - start, 0u);
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

}  // namespace
}  // namespace kestrel::test
