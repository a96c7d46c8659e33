// Bytes through a real pty with the system clock: every value unchanged in both
// directions, writes that outgrow the kernel's buffer, purging, and a hung-up line.
#include <thread>
#include <vector>

#include "serial_posix/port_fixture.h"

namespace kestrel::test {
namespace {

using PtyTransferTest = PtyPortTest;

std::vector<uint8_t> everyByteValue() {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
}

TEST_F(PtyTransferTest, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    const std::vector<uint8_t> sent = everyByteValue();

    // Tool to module first: after a 0x13 taken as XOFF, the tool's output would stop.
    EXPECT_EQ(writeBytes(sent.data(), static_cast<uint16_t>(sent.size())), 256);
    std::vector<uint8_t> echoed(sent.size());
    EXPECT_EQ(pty_.receive(echoed.data(), echoed.size()), sent.size());
    EXPECT_EQ(echoed, sent);

    // Module to tool.
    ASSERT_TRUE(pty_.send(sent.data(), sent.size()));
    std::vector<uint8_t> received;
    uint8_t b = 0;
    while (received.size() < sent.size() && readByteTimed(&b, 500) == 1)
        received.push_back(b);
    EXPECT_EQ(received, sent);

    // Nothing was added on the way (no CR/LF translation, no echo).
    uint8_t extra = 0;
    EXPECT_EQ(pty_.receive(&extra, 1, 20), 0u);
    EXPECT_EQ(readByteNow(&extra), 0);
}

TEST_F(PtyTransferTest, WriteLargerThanTheKernelBufferWaitsForRoom) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    std::vector<uint8_t> sent(65535);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + (i >> 8));

    // The far end starts reading only after the pty's buffer (about 18 KB) is full.
    std::vector<uint8_t> received(sent.size());
    size_t receivedCount = 0;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        receivedCount = pty_.receive(received.data(), received.size(), 3000);
    });
    const uint16_t written = writeBytes(sent.data(), static_cast<uint16_t>(sent.size()));
    reader.join();
    EXPECT_EQ(written, 65535);
    ASSERT_EQ(receivedCount, sent.size());
    EXPECT_EQ(received, sent);
}

TEST_F(PtyTransferTest, WriteToAHungUpLineEndsAndCountsWhatWasTaken) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    pty_.closeMaster();
    const std::vector<uint8_t> bytes(100, 0x55);
    const double start = wallMs();
    EXPECT_EQ(writeBytes(bytes.data(), 100), 0);
    EXPECT_LT(wallMs() - start, 100.0);
}

TEST_F(PtyTransferTest, PurgeDiscardsBytesWaitingToBeRead) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    const uint8_t stale[] = {'O', 'K', '\r', '\n'};
    ASSERT_TRUE(pty_.send(stale, sizeof stale));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let the pty deliver them
    EXPECT_EQ(purgePort(), 1);
    uint8_t b = 0;
    EXPECT_EQ(readByteTimed(&b, 30), 0);

    const uint8_t fresh = 0x01;
    ASSERT_TRUE(pty_.send(&fresh, 1));
    ASSERT_EQ(readByteTimed(&b, 500), 1);
    EXPECT_EQ(b, 0x01);
}

TEST_F(PtyTransferTest, TimedReadTakesAByteThatArrivesWhileItWaits) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    std::thread module([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        const uint8_t ack = 0x01;
        pty_.send(&ack, 1);
    });
    uint8_t b = 0;
    const double start = wallMs();
    const int got = readByteTimed(&b, 1000);
    const double waited = wallMs() - start;
    module.join();
    ASSERT_EQ(got, 1);
    EXPECT_EQ(b, 0x01);
    EXPECT_GE(waited, 35.0);
    EXPECT_LT(waited, 500.0);
}

TEST_F(PtyTransferTest, IdleLineTimedReadLastsItsLimit) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    uint8_t b = 0;
    const double start = wallMs();
    EXPECT_EQ(readByteTimed(&b, 100), 0);
    const double waited = wallMs() - start;
    EXPECT_GE(waited, 99.0);
    EXPECT_LT(waited, 400.0);
}

// A hung-up pty answers poll() at once, every time: without care, a timed read spins.
TEST_F(PtyTransferTest, HungUpLineWaitsOutTheTimedReadWithoutSpinning) {
    ASSERT_EQ(openPort(pty_.slavePath(), 115200, false), 1);
    pty_.closeMaster();

    uint8_t b = 0;
    const double wall0 = wallMs();
    const double cpu0 = cpuMs();
    EXPECT_EQ(readByteTimed(&b, 200), 0);
    const double wall = wallMs() - wall0;
    const double cpu = cpuMs() - cpu0;
    RecordProperty("hung_read_wall_ms", static_cast<int>(wall));
    RecordProperty("hung_read_cpu_us", static_cast<int>(cpu * 1000));
    printf("hung-up line, readByteTimed(200 ms): wall %.1f ms, CPU %.2f ms\n", wall, cpu);
    EXPECT_GE(wall, 199.0);
    EXPECT_LT(wall, 600.0);
    EXPECT_LT(cpu, 0.5 * wall);

    // Each single read still takes its 5 ms.
    const double single0 = wallMs();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(readByteNow(&b), 0);
    EXPECT_GE(wallMs() - single0, 10 * 4.0);
}

}  // namespace
}  // namespace kestrel::test
