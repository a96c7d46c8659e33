// Sending the records: the loader's answers, progress, and the damaged-image guard.
#include <gtest/gtest.h>
#include <unistd.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Answer = sim::BlockAnswer;

Answer byte(uint8_t v, int busy = 0) {
    return Answer{Answer::Kind::Byte, v, busy};
}

sim::ModuleConfig loaderWithGap(sim::AnswerScript answers, uint32_t busyGapMs) {
    auto c = loaderModule(std::move(answers));
    c.busyGapMs = busyGapMs;
    return c;
}

// A whole no-firmware update whose loader answers per `answers`.
struct Transfer : UpdateRun {
    Transfer(std::vector<Record> recs, sim::AnswerScript answers, uint32_t busyGapMs = 4000)
        : UpdateRun(std::move(recs), loaderWithGap(std::move(answers), busyGapMs), true) {
        run();
    }
};

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
        {"ten resends asked, then next: sent 11 times",
         [](int b, int a) { return byte(b == 1 && a < 10 ? 0x02 : 0x01); }, 4000,
         "Download succeeded.", 11, 1, 1},
        {"an eleventh resend asked", [](int b, int) { return byte(b == 1 ? 0x02 : 0x01); }, 4000,
         "ERROR: too many retries in block 1.", 11, 0, 1},
        // Each busy answer restarts the 5000 ms wait, however long they keep coming.
        {"three busy 4000 ms apart", [](int b, int) { return byte(0x01, b == 1 ? 3 : 0); }, 4000,
         "Download succeeded.", 1, 1, 12001},
        {"busy, then 5100 ms of silence", [](int b, int) { return byte(0x01, b == 1 ? 1 : 0); },
         5100, timeout, 1, 0, 5001},
        {"no answer",
         [](int b, int) {
             return b == 1 ? Answer{Answer::Kind::Silence, 0, 0} : byte(0x01);
         },
         4000, timeout, 1, 0, 5000},
        {"0x15 to block 1", [](int b, int) { return byte(b == 1 ? 0x15 : 0x01); }, 4000,
         "ERROR: unexpected or fatal response (0x15) to block 1.", 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Transfer r(makeRecords(3), c.answers, c.busyGapMs);
        EXPECT_EQ(r.w.host.lastStatus(), c.last);
        EXPECT_EQ(r.sendsOf(1), c.sendsOf1);
        EXPECT_EQ(r.sendsOf(2), c.sendsOf2);
        const auto sends = writesOf(r.w.os, wire(r.records[1]));
        const auto next = writesOf(r.w.os, wire(r.records[2]));
        const uint32_t end =
            next.empty() ? r.w.host.statuses.back().atMs - r.w.clock.start() : next[0].atMs;
        EXPECT_EQ(end - sends.back().atMs, c.waitedMs);
        EXPECT_EQ(r.w.module.imageComplete(), c.last == "Download succeeded.");
        EXPECT_EQ(r.w.host.positions.back(), 3);  // the bar fills, whatever the outcome
        r.expectReleased();
    }
}

TEST(Answers, VersionConflictTextOnlyForBlockFour) {
    const char* texts[] = {"ERROR: unexpected or fatal response (0x15) to block 3.",
                           "ERROR: fatal response (0x15) to block 4, possible version conflict.",
                           "ERROR: unexpected or fatal response (0x15) to block 5."};
    for (int fatal = 3; fatal <= 5; ++fatal) {
        const Transfer r(makeRecords(7),
                         [fatal](int block, int) { return byte(block == fatal ? 0x15 : 0x01); });
        EXPECT_EQ(r.w.host.lastStatus(), texts[fatal - 3]);
    }
}

TEST(Progress, ThirtiethFloorThenBlockIndexThenFull) {
    const Transfer r(makeRecords(300, {8}), {});
    const auto& p = r.w.host.positions;
    // 0 at the range set, then one per block, then the final fill.
    ASSERT_EQ(p.size(), 1u + 300u + 1u);
    EXPECT_EQ(p[0], 0);
    for (int block = 0; block < 300; ++block)
        EXPECT_EQ(p[1 + block], block <= 10 ? 10 : block) << block;
    EXPECT_EQ(p.back(), 300);
    EXPECT_EQ(r.w.host.rangeMax, 300);

    // 70000 one-byte records: a 16-bit range would show 4464.
    const Transfer big(makeRecords(70000, {1}), {});
    EXPECT_EQ(big.w.host.rangeMax, 70000);
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
                    if (block == 2) {
                        EXPECT_EQ(truncate(path.c_str(), 100000 + 3 * 73 + 10), 0);
                    }
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
