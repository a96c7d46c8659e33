// Sending the records: the loader's answers (doubled ones too), progress, the damaged-image
// guard, and two transfers at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Answer = sim::BlockAnswer;
const char* const kOk = "Download succeeded.";

const auto byte = [](uint8_t v, int busy = 0) { return Answer{Answer::Kind::Byte, v, busy}; };

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

// Only where another process may cut the program file while it is read: Windows refuses it.
#ifndef _WIN32
TEST(DamagedImage, ImageThatBreaksDuringTheTransferIsNoSuccess) {
    std::string path;
    // The program file loses its tail while block 2 is on its way: beyond what the reader
    // has read ahead by then, the records behind block 249 are gone.
    UpdateRun r(makeRecords(300), loaderModule([&path](int block, int) {
                    EXPECT_EQ(block == 2 ? truncate(path.c_str(), 100000 + 250 * 73 + 10) : 0, 0);
                    return byte(0x01);
                }),
                true);
    path = r.w.file->path();
    testing::internal::CaptureStdout();
    r.run();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.w.module.stats().recordsAccepted, 250);
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
    EXPECT_FALSE(r.w.host.showed("Download succeeded, finishing update process."));
    r.expectReleased();
}
#endif

// Answers that do not match the blocks one to one: a bridge or loader that doubles a byte
// must never put the transfer out of step with the module, nor pass for success.
// The loader doubles its first answer to `doubledBlock` and asks for `nakBlock` again once.
struct Doubling : UpdateRun {
    explicit Doubling(int doubledBlock, int nakBlock = -1)
        : UpdateRun(makeRecords(5), loaderModule([=](int block, int attempt) {
                        sim::BlockAnswer a;
                        if (block == doubledBlock && attempt == 0) a.repeats = 1;
                        if (block == nakBlock && attempt == 0) a.value = 0x02;
                        return a;
                    }),
                    true) {
        run();
    }
};

TEST(StrayAnswer, ADoubledAnswerIsDroppedBeforeTheNextBlockAndTheTransferStaysInStep) {
    for (int nakBlock : {-1, 3}) {
        const Doubling r(1, nakBlock);
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.") << nakBlock;
        EXPECT_TRUE(r.w.module.imageComplete());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(r.sendsOf(i), i == nakBlock ? 2 : 1) << i;
    }
    // Any other byte behind an answer: the loader and the transfer are out of step.
    sim::ModuleModel* model = nullptr;
    UpdateRun odd(makeRecords(5), loaderModule([&model](int block, int) {
                      sim::BlockAnswer a;
                      if (block != 1) return a;
                      model->sendRaw({0x01, 0x07}, 0);  // at once, the answer and a stray byte
                      a.kind = sim::BlockAnswer::Kind::Silence;
                      return a;
                  }),
                  true);
    model = &odd.w.module;
    odd.run();
    EXPECT_EQ(odd.w.host.lastStatus(), "ERROR: unexpected or fatal response (0x07) to block 1.");
    EXPECT_EQ(odd.sendsOf(2), 0);
    // Behind the last answer there is no next block to drop it before: the transfer fails.
    const Doubling r(4);
    EXPECT_EQ(r.w.host.texts(),
              split("|Waiting for start signal.|Firmware download in progress.|ERROR: unexpected "
                    "or fatal response (0x01) to block 4."));
    EXPECT_EQ(r.outcome.result, SessionResult::TransferFailed);
    EXPECT_EQ(r.outcome.blockFailure, BlockFailure::StrayAnswer);
    EXPECT_EQ(r.outcome.blockIndex, 4);
    EXPECT_EQ(r.outcome.answerByte, 0x01);
    r.expectReleased();
}

// Two sessions at once in one process, each with its own port, image, clock and module: what
// each does on its own thread must be exactly what it does alone.
// The timed dialogue and statuses, the result and the virtual end time of a negotiated update of a
// module at 57600, or of a fallback update whose loader asks for block 7 again; both long enough to
// interleave.
std::vector<std::string> runOne(bool negotiated) {
    sim::ModuleConfig config =
        negotiated ? firmwareModule(57600) : loaderModule([](int block, int attempt) {
            sim::BlockAnswer a;
            if (block == 7 && attempt == 0) a.value = 0x02;
            a.busyBefore = block % 50 == 0 ? 2 : 0;
            return a;
        });
    UpdateRun r(makeRecords(300, {8, 72, 255}), config, !negotiated);
    std::vector<std::string> all = r.run().dialogue(true);
    for (const std::string& status : r.statusLines())
        all.push_back(status);
    all.push_back(std::string(resultName(r.outcome.result)) +
                  (r.w.module.imageComplete() ? " whole at " : " cut at ") +
                  std::to_string(r.w.clock.elapsed()));
    return all;
}

TEST(ParallelSessions, TwoSessionsOnTwoThreadsDoExactlyWhatEachDoesAlone) {
    const auto aloneA = runOne(true), aloneB = runOne(false);
    for (const auto& alone : {aloneA, aloneB})
        ASSERT_EQ(alone.back().rfind("succeeded whole at ", 0), 0u) << alone.back();
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> a, b;
        std::thread ta([&] { a = runOne(true); });
        std::thread tb([&] { b = runOne(false); });
        ta.join();
        tb.join();
        EXPECT_EQ(a, aloneA);
        EXPECT_EQ(b, aloneB);
    }
}

}  // namespace
}  // namespace kestrel::test
