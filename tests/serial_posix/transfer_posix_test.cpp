// Bytes through a real pty with the system clock: every value unchanged in both
// directions, writes that outgrow the kernel's buffer, purging, and a hung-up line.
#include <chrono>
#include <thread>
#include <vector>

#include "serial_posix/posix_tree.h"

namespace kestrel::test {
namespace {

class PtyTransferTest : public PtyPortTest {
  protected:
    void SetUp() override {
        PtyPortTest::SetUp();
        ASSERT_EQ(port_.openPort(slave(), 115200, false), 1);
    }
    // Runs `f` after `ms` of real time on a thread of its own, while the test goes on.
    template <typename F>
    std::thread later(int ms, F f) {
        return std::thread([ms, f] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            f();
        });
    }
};

TEST_F(PtyTransferTest, EveryByteValuePassesUnchangedBothWaysAndAPurgeDropsInput) {
    std::vector<uint8_t> sent;
    for (int i = 0; i < 256; ++i)
        sent.push_back(static_cast<uint8_t>(i));

    // Tool to module first: after a 0x13 taken as XOFF, the tool's output would stop.
    EXPECT_EQ(port_.writeBytes(sent.data(), 256), 256);
    std::vector<uint8_t> got(sent.size());
    EXPECT_EQ(receive(got.data(), got.size()), sent.size());
    EXPECT_EQ(got, sent);

    ASSERT_TRUE(send(sent.data(), sent.size()));
    got.clear();
    uint8_t b = 0;
    while (got.size() < sent.size() && port_.readByteTimed(&b, 500) == 1)
        got.push_back(b);
    EXPECT_EQ(got, sent);

    // Nothing was added on the way (no CR/LF translation, no echo).
    EXPECT_EQ(receive(&b, 1, 20), 0u);
    EXPECT_EQ(port_.readByteNow(&b), 0);

    // A purge discards what waits to be read.
    ASSERT_TRUE(send(sent.data() + 'A', 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let the pty deliver them
    EXPECT_EQ(port_.purgePort(), 1);
    EXPECT_EQ(port_.readByteTimed(&b, 30), 0);
    ASSERT_TRUE(send(sent.data() + 'O', 1));
    ASSERT_EQ(port_.readByteTimed(&b, 500), 1);
    EXPECT_EQ(b, 'O');
}

TEST_F(PtyTransferTest, WriteLargerThanTheKernelBufferWaitsForRoom) {
    std::vector<uint8_t> sent(65535);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    // The far end starts reading only after the pty's buffer (about 18 KB) is full.
    std::vector<uint8_t> received(sent.size());
    size_t receivedCount = 0;
    std::thread reader =
        later(50, [&] { receivedCount = receive(received.data(), received.size(), 3000); });
    EXPECT_EQ(port_.writeBytes(sent.data(), 65535), 65535);
    reader.join();
    ASSERT_EQ(receivedCount, sent.size());
    EXPECT_EQ(received, sent);
}

TEST_F(PtyTransferTest, TimedReadLastsItsLimitOrEndsWithAByteThatArrives) {
    uint8_t b = 0;
    double start = wallMs();
    EXPECT_EQ(port_.readByteTimed(&b, 100), 0);
    EXPECT_GE(wallMs() - start, 99.0);
    EXPECT_LT(wallMs() - start, 400.0);
    // A single read waits its 5 ms: ten of them on a silent line stay far below ten of 50.
    start = wallMs();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(port_.readByteNow(&b), 0);
    EXPECT_LT(wallMs() - start, 250.0);

    const uint8_t ack = 0x01;
    std::thread module = later(40, [&] { send(&ack, 1); });
    start = wallMs();
    const int got = port_.readByteTimed(&b, 1000);
    const double waited = wallMs() - start;
    module.join();
    ASSERT_EQ(got, 1);
    EXPECT_EQ(b, 0x01);
    EXPECT_GE(waited, 35.0);
    EXPECT_LT(waited, 500.0);
}

// A hung-up pty answers poll() at once, every time: without care, a timed read spins.
TEST_F(PtyTransferTest, HungUpLineWaitsOutReadsWithoutSpinningAndEndsWrites) {
    closeMaster();
    uint8_t b = 0;
    const double wall0 = wallMs(), cpu0 = msOf(CLOCK_PROCESS_CPUTIME_ID);
    EXPECT_EQ(port_.readByteTimed(&b, 200), 0);
    const double wall = wallMs() - wall0, cpu = msOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    EXPECT_GE(wall, 199.0);
    EXPECT_LT(wall, 600.0);
    EXPECT_LT(cpu, 0.5 * wall);

    // Each single read still takes its 5 ms.
    const double single0 = wallMs();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(port_.readByteNow(&b), 0);
    EXPECT_GE(wallMs() - single0, 10 * 4.0);

    // A write ends at once and counts what was taken.
    const std::vector<uint8_t> bytes(100, 0x55);
    const double write0 = wallMs();
    EXPECT_EQ(port_.writeBytes(bytes.data(), 100), 0);
    EXPECT_LT(wallMs() - write0, 100.0);
}

}  // namespace
}  // namespace kestrel::test
