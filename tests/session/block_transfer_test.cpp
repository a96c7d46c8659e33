// Sending the records: the loader's answers, progress, and the damaged-image guard.
#include <gtest/gtest.h>
#include <unistd.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Answer = sim::BlockAnswer;
const char* const kOk = "Download succeeded.";

Answer byte(uint8_t v, int busy = 0) {
    return Answer{Answer::Kind::Byte, v, busy};
}

// The loader answers block 1's first `attempts` sends with `a`, everything else with 0x01.
sim::AnswerScript block1(Answer a, int attempts = 1000) {
    return [=](int b, int at) { return b == 1 && at < attempts ? a : byte(0x01); };
}

TEST(Answers, NextResendBusyOrFailure) {
    const char* const timeout = "ERROR: Timout waiting fo response after block no.1";
    struct Case {
        const char* what;
        sim::AnswerScript answers;
        uint32_t busyGapMs;
        std::string last;
        int sendsOf1, sendsOf2;
        uint32_t waitedMs;  // from block 1's last send to the next send, or to the last status
    } cases[] = {
        {"ten resends asked, then next", block1(byte(0x02), 10), 4000, kOk, 11, 1, 1},
        {"an eleventh resend asked", block1(byte(0x02)), 4000,
         "ERROR: too many retries in block 1.", 11, 0, 1},
        // Each busy answer restarts the 5000 ms wait, however long they keep coming.
        {"three busy 4000 ms apart", block1(byte(0x01, 3)), 4000, kOk, 1, 1, 12001},
        {"busy, then 5100 ms of silence", block1(byte(0x01, 1)), 5100, timeout, 1, 0, 5001},
        {"no answer", block1(Answer{Answer::Kind::Silence, 0, 0}), 4000, timeout, 1, 0, 5000},
        {"0x15 to block 1", block1(byte(0x15)), 4000,
         "ERROR: unexpected or fatal response (0x15) to block 1.", 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto config = loaderModule(c.answers);
        config.busyGapMs = c.busyGapMs;
        UpdateRun r(makeRecords(3), config, true);
        r.run();
        EXPECT_EQ(r.w.host.lastStatus(), c.last);
        EXPECT_EQ(r.sendsOf(1), c.sendsOf1);
        EXPECT_EQ(r.sendsOf(2), c.sendsOf2);
        const auto sends = writesOf(r.w.os, wire(r.records[1]));
        const auto next = writesOf(r.w.os, wire(r.records[2]));
        const uint32_t end =
            next.empty() ? r.w.host.statuses.back().atMs - r.w.clock.start() : next[0].atMs;
        EXPECT_EQ(end - sends.back().atMs, c.waitedMs);
        EXPECT_EQ(r.w.module.imageComplete(), c.last == kOk);
        EXPECT_EQ(r.w.host.positions.back(), 3);  // the bar fills, whatever the outcome
        r.expectReleased();
    }
    // Only a refusal of block 4 names a possible version conflict.
    for (int fatal = 3; fatal <= 5; ++fatal) {
        UpdateRun r(makeRecords(7), loaderModule([fatal](int block, int) {
                        return byte(block == fatal ? 0x15 : 0x01);
                    }),
                    true);
        EXPECT_EQ(r.run().w.host.lastStatus(),
                  fatal == 4 ? "ERROR: fatal response (0x15) to block 4, possible version conflict."
                             : "ERROR: unexpected or fatal response (0x15) to block " +
                                   std::to_string(fatal) + ".");
    }
}

TEST(Progress, ThirtiethFloorThenBlockIndexThenFull) {
    UpdateRun r(makeRecords(300, {8}), loaderModule(), true);
    // 0 at the range set, then one per block (at least a thirtieth), then the final fill.
    std::vector<int32_t> expected{0};
    for (int block = 0; block < 300; ++block)
        expected.push_back(block <= 10 ? 10 : block);
    expected.push_back(300);
    EXPECT_EQ(r.run().w.host.positions, expected);
    EXPECT_EQ(r.w.host.rangeMax, 300);

    // 70000 one-byte records: a 16-bit range would show 4464.
    UpdateRun big(makeRecords(70000, {1}), loaderModule(), true);
    EXPECT_EQ(big.run().w.host.rangeMax, 70000);
    EXPECT_EQ(big.w.host.positions.back(), 70000);
    EXPECT_EQ(big.w.module.stats().recordsAccepted, 70000);
}

TEST(DamagedImage, CutLastRecordIsRefusedBeforeAnythingIsSent) {
    const auto records = makeRecords(4);
    UpdateRun r(records, loaderModule(), true);
    r.w.useImage(records, {40, 1, 2, 3});  // a record of 40 bytes with only 3 present
    testing::internal::CaptureStdout();
    r.run();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: unexpected end of file detected 3 / 40.\n");
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);  // no restart, no blind entry
    EXPECT_TRUE(writes(r.w.os).empty());
    r.expectReleased();
}

// Only where another process may cut the program file while it is read: Windows refuses it.
#ifndef _WIN32
TEST(DamagedImage, ImageThatBreaksDuringTheTransferIsNoSuccess) {
    std::string path;
    // The program file loses its tail while block 2 is on its way.
    UpdateRun r(makeRecords(6), loaderModule([&path](int block, int) {
                    EXPECT_EQ(block == 2 ? truncate(path.c_str(), 100000 + 3 * 73 + 10) : 0, 0);
                    return byte(0x01);
                }),
                true);
    path = r.w.file->path();
    testing::internal::CaptureStdout();
    r.run();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.w.module.stats().recordsAccepted, 3);
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
    EXPECT_FALSE(r.w.host.showed("Download succeeded, finishing update process."));
    EXPECT_EQ(r.w.host.positions.back(), 6);
    r.expectReleased();
}
#endif

}  // namespace
}  // namespace kestrel::test
