// Sending the records: answers, resends, busy waits, fatal answers, progress, and the
// damaged-image guard.
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

TEST(Resend, TenRequestsThenAcceptSendsTheRecordElevenTimes) {
    Transfer t(makeRecords(3), [](int block, int attempt) {
        return byte(block == 1 && attempt < 10 ? 0x02 : 0x01);
    });
    EXPECT_EQ(t.sendsOf(1), 11);
    EXPECT_EQ(t.w.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(t.w.module.imageComplete());
}

TEST(Resend, EleventhRequestEndsTheTransfer) {
    Transfer t(makeRecords(3), [](int block, int) { return byte(block == 1 ? 0x02 : 0x01); });
    EXPECT_EQ(t.sendsOf(1), 11);
    EXPECT_EQ(t.sendsOf(2), 0);
    EXPECT_EQ(t.w.host.lastStatus(), "ERROR: too many retries in block 1.");
    EXPECT_FALSE(t.w.host.showed("Download succeeded."));
    EXPECT_EQ(t.w.host.positions.back(), 3);  // the bar fills even after an error
    t.expectReleased();
}

TEST(Busy, EachBusyAnswerRestartsTheFiveSecondWait) {
    // Three 0x04 answers 4000 ms apart: 12 s of waiting that no single 5000 ms wait covers.
    Transfer t(makeRecords(2), [](int block, int) { return byte(0x01, block == 0 ? 3 : 0); });
    EXPECT_EQ(t.w.host.lastStatus(), "Download succeeded.");
    const auto w = t.w.os.eventsOf(Event::Kind::Write);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_GE(w[2].atMs - w[1].atMs, 12000u);
    EXPECT_EQ(t.sendsOf(0), 1);  // busy is no request to resend

    Transfer slow(
        makeRecords(2), [](int, int) { return byte(0x01, 1); }, 5100);
    EXPECT_EQ(slow.w.host.lastStatus(), "ERROR: Timout waiting fo response after block no.0");
}

TEST(FatalAnswer, VersionConflictTextOnlyForBlockFour) {
    const char* texts[] = {"ERROR: unexpected or fatal response (0x15) to block 3.",
                           "ERROR: fatal response (0x15) to block 4, possible version conflict.",
                           "ERROR: unexpected or fatal response (0x15) to block 5."};
    for (int fatal = 3; fatal <= 5; ++fatal) {
        Transfer t(makeRecords(7),
                   [fatal](int block, int) { return byte(block == fatal ? 0x15 : 0x01); });
        EXPECT_EQ(t.w.host.lastStatus(), texts[fatal - 3]);
        EXPECT_EQ(t.sendsOf(fatal + 1), 0) << fatal;
    }
}

TEST(Silence, NoAnswerEndsTheTransferAfterFiveSeconds) {
    Transfer t(makeRecords(4), [](int block, int) {
        return block == 2 ? Answer{Answer::Kind::Silence, 0, 0} : byte(0x01);
    });
    EXPECT_EQ(t.w.host.lastStatus(), "ERROR: Timout waiting fo response after block no.2");
    const uint32_t waited = t.w.host.statuses.back().atMs - t.w.clock.start() -
                            t.w.os.eventsOf(Event::Kind::Write).back().atMs;
    EXPECT_GE(waited, 5000u);
    EXPECT_LE(waited, 5010u);
    EXPECT_EQ(t.w.module.stats().recordsAccepted, 2);
    t.expectReleased();
}

TEST(Progress, ThirtiethFloorThenBlockIndexThenFull) {
    Transfer t(makeRecords(300, {8}), {});
    const auto& p = t.w.host.positions;
    // 0 at the range set, then one per block, then the final fill.
    ASSERT_EQ(p.size(), 1u + 300u + 1u);
    EXPECT_EQ(p[0], 0);
    for (int block = 0; block < 300; ++block)
        EXPECT_EQ(p[1 + block], block <= 10 ? 10 : block) << block;
    EXPECT_EQ(p.back(), 300);
    EXPECT_EQ(t.w.host.rangeMax, 300);
}

TEST(Progress, RangeKeepsCountsAbove65535) {
    // 70000 one-byte records: a 16-bit range would show 4464.
    Transfer t(makeRecords(70000, {1}), {});
    EXPECT_EQ(t.w.host.rangeMax, 70000);
    EXPECT_EQ(t.w.host.positions.back(), 70000);
    EXPECT_EQ(t.w.module.stats().recordsAccepted, 70000);
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
    EXPECT_TRUE(writes(r.w.os).empty());
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);  // no restart, no blind entry
    r.expectReleased();
}

TEST(DamagedImage, ImageThatBreaksDuringTheTransferIsNoSuccess) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps others from writing the program file while it is read";
#endif
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
    EXPECT_FALSE(r.w.host.showed("Download succeeded."));
    EXPECT_FALSE(r.w.host.showed("Download succeeded, finishing update process."));
    EXPECT_EQ(r.w.host.positions.back(), 6);
    r.expectReleased();
}

}  // namespace
}  // namespace kestrel::test
