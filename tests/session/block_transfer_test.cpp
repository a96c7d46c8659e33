// Sending the records: answers, resends, busy waits, fatal answers, progress, and the
// damaged-image guard.
#include <gtest/gtest.h>
#include <unistd.h>

#include "session/session_test_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

using Answer = sim::BlockAnswer;

Answer byte(uint8_t v, int busy = 0) {
    return Answer{Answer::Kind::Byte, v, busy};
}

struct TransferRun {
    explicit TransferRun(std::vector<Record> recs, sim::AnswerScript answers,
                         uint32_t busyGapMs = 4000)
        : records(std::move(recs)), world(makeConfig(records, std::move(answers), busyGapMs)) {
        world.useImage(records);
        noFirmwareFields(world.host);
        runUpdateSession(world.host);
    }
    static sim::ModuleConfig makeConfig(const std::vector<Record>& r, sim::AnswerScript a,
                                        uint32_t gap) {
        auto c = loaderModule(r, std::move(a));
        c.busyGapMs = gap;
        return c;
    }
    // How often record `i` went out.
    int sendsOf(size_t i) const {
        int n = 0;
        for (const auto& s : writes(world.os))
            if (s == wire(records[i])) ++n;
        return n;
    }
    std::vector<Record> records;
    VirtualWorld world;
};

TEST(Resend, TenRequestsThenAcceptSendsTheRecordElevenTimes) {
    TransferRun run(makeRecords(3), [](int block, int attempt) {
        return byte(block == 1 && attempt < 10 ? 0x02 : 0x01);
    });
    EXPECT_EQ(run.sendsOf(1), 11);
    EXPECT_EQ(run.world.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(run.world.module.imageComplete());
}

TEST(Resend, EleventhRequestEndsTheTransferAndTheHandBackStillRuns) {
    TransferRun run(makeRecords(3), [](int block, int) { return byte(block == 1 ? 0x02 : 0x01); });
    EXPECT_EQ(run.sendsOf(1), 11);
    EXPECT_EQ(run.sendsOf(2), 0);
    EXPECT_EQ(run.world.host.lastStatus(), "ERROR: too many retries in block 1.");
    EXPECT_FALSE(run.world.host.showed("Download succeeded."));
    EXPECT_EQ(run.world.host.positions.back(), 3);  // the bar fills even after an error
    EXPECT_EQ(run.world.host.startEnabled, 1);
    EXPECT_FALSE(run.world.os.isOpen());
}

TEST(Busy, EachBusyAnswerRestartsTheFiveSecondWait) {
    // Three 0x04 answers 4000 ms apart: 12 s of waiting that no single 5000 ms wait covers.
    TransferRun run(makeRecords(2), [](int block, int) { return byte(0x01, block == 0 ? 3 : 0); });
    EXPECT_EQ(run.world.host.lastStatus(), "Download succeeded.");
    const auto w = run.world.os.eventsOf(Event::Kind::Write);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_GE(w[2].atMs - w[1].atMs, 12000u);
    EXPECT_EQ(run.sendsOf(0), 1);  // busy is no request to resend
}

TEST(Busy, AGapLongerThanFiveSecondsIsATimeout) {
    TransferRun run(
        makeRecords(2), [](int, int) { return byte(0x01, 1); }, 5100);
    EXPECT_EQ(run.world.host.lastStatus(), "ERROR: Timout waiting fo response after block no.0");
}

TEST(FatalAnswer, VersionConflictTextOnlyForBlockFour) {
    TransferRun at4(makeRecords(6), [](int block, int) { return byte(block == 4 ? 0x15 : 0x01); });
    EXPECT_EQ(at4.world.host.lastStatus(),
              "ERROR: fatal response (0x15) to block 4, possible version conflict.");
    EXPECT_EQ(at4.sendsOf(5), 0);

    TransferRun at3(makeRecords(6), [](int block, int) { return byte(block == 3 ? 0x15 : 0x01); });
    EXPECT_EQ(at3.world.host.lastStatus(),
              "ERROR: unexpected or fatal response (0x15) to block 3.");
    EXPECT_EQ(at3.sendsOf(4), 0);
}

TEST(Silence, NoAnswerEndsTheTransferAfterFiveSeconds) {
    TransferRun run(makeRecords(4), [](int block, int) {
        return block == 2 ? Answer{Answer::Kind::Silence, 0, 0} : byte(0x01);
    });
    EXPECT_EQ(run.world.host.lastStatus(), "ERROR: Timout waiting fo response after block no.2");
    const auto w = run.world.os.eventsOf(Event::Kind::Write);
    const auto& st = run.world.host.statuses.back();
    const uint32_t waited = st.atMs - run.world.clock.start() - w.back().atMs;
    EXPECT_GE(waited, 5000u);
    EXPECT_LE(waited, 5010u);
    EXPECT_EQ(run.world.module.stats().recordsAccepted, 2);
}

TEST(Progress, ThirtiethFloorThenBlockIndexThenFull) {
    TransferRun run(makeRecords(300, {8}), {});
    const auto& p = run.world.host.positions;
    // 0 at the range set, then one per block, then the final fill.
    ASSERT_EQ(p.size(), 1u + 300u + 1u);
    EXPECT_EQ(p[0], 0);
    for (int block = 0; block <= 10; ++block)
        EXPECT_EQ(p[1 + block], 10) << block;
    for (int block = 11; block < 300; ++block)
        EXPECT_EQ(p[1 + block], block) << block;
    EXPECT_EQ(p.back(), 300);
    EXPECT_EQ(run.world.host.rangeMax, 300);
}

TEST(Progress, RangeKeepsCountsAbove65535) {
    // 70000 one-byte records: a 16-bit range would show 4464.
    TransferRun run(makeRecords(70000, {1}), {});
    EXPECT_EQ(run.world.host.rangeMax, 70000);
    EXPECT_EQ(run.world.host.positions.back(), 70000);
    EXPECT_EQ(run.world.module.stats().recordsAccepted, 70000);
}

TEST(DamagedImage, CutLastRecordIsRefusedBeforeAnythingIsSent) {
    const auto records = makeRecords(4);
    VirtualWorld w(loaderModule(records));
    w.useImage(records, {40, 1, 2, 3});  // a record of 40 bytes with only 3 present
    noFirmwareFields(w.host);
    testing::internal::CaptureStdout();
    runUpdateSession(w.host);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Warning: unexpected end of file detected 3 / 40.\n");
    EXPECT_EQ(w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
    EXPECT_TRUE(writes(w.os).empty());
    EXPECT_EQ(w.os.eventsOf(Event::Kind::Open).size(), 1u);  // no restart, no blind entry
    EXPECT_FALSE(w.os.isOpen());
    EXPECT_EQ(w.host.startEnabled, 1);
}

TEST(DamagedImage, ImageThatBreaksDuringTheTransferIsNoSuccess) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps others from writing the program file while it is read";
#endif
    const auto records = makeRecords(6);
    std::string path;
    // The program file loses its tail while block 2 is on its way.
    auto answers = [&path](int block, int) {
        if (block == 2) {
            EXPECT_EQ(truncate(path.c_str(), 100000 + 3 * 73 + 10), 0);
        }
        return byte(0x01);
    };
    VirtualWorld w(loaderModule(records, answers));
    w.useImage(records);
    path = w.image->path();
    noFirmwareFields(w.host);
    testing::internal::CaptureStdout();
    runUpdateSession(w.host);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(w.module.stats().recordsAccepted, 3);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
    EXPECT_FALSE(w.host.showed("Download succeeded."));
    EXPECT_FALSE(w.host.showed("Download succeeded, finishing update process."));
    EXPECT_EQ(w.host.positions.back(), 6);
}

}  // namespace
}  // namespace kestrel::test
