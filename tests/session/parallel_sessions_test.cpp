// Two sessions at once in one process, each with its own port, image, clock and module: what
// each does on its own thread must be exactly what it does alone.
#include <gtest/gtest.h>

#include <thread>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

struct Result {
    std::vector<std::string> dialogue;
    std::vector<std::string> texts;
    uint32_t virtualMs;
    SessionResult outcome;
    bool moduleHasImage;
};

// A negotiated update of a module at 57600, or a fallback update whose loader asks for
// block 7 again; both long enough to interleave.
Result runOne(bool negotiated) {
    sim::ModuleConfig config =
        negotiated ? firmwareModule(57600) : loaderModule([](int block, int attempt) {
            sim::BlockAnswer a;
            if (block == 7 && attempt == 0) a.value = 0x02;
            a.busyBefore = block % 50 == 0 ? 2 : 0;
            return a;
        });
    UpdateRun r(makeRecords(300, {8, 72, 255}), config, !negotiated);
    r.run();
    return {r.dialogue(), r.w.host.texts(), r.w.clock.elapsed(), r.outcome.result,
            r.w.module.imageComplete()};
}

TEST(ParallelSessions, TwoSessionsOnTwoThreadsDoExactlyWhatEachDoesAlone) {
    const Result aloneA = runOne(true);
    const Result aloneB = runOne(false);
    ASSERT_EQ(aloneA.outcome, SessionResult::Succeeded);
    ASSERT_EQ(aloneB.outcome, SessionResult::Succeeded);
    ASSERT_TRUE(aloneA.moduleHasImage && aloneB.moduleHasImage);

    for (int round = 0; round < 3; ++round) {
        Result a, b;
        std::thread ta([&] { a = runOne(true); });
        std::thread tb([&] { b = runOne(false); });
        ta.join();
        tb.join();
        for (const auto& [together, alone] : {std::pair{&a, &aloneA}, std::pair{&b, &aloneB}}) {
            EXPECT_EQ(together->dialogue, alone->dialogue);
            EXPECT_EQ(together->texts, alone->texts);
            EXPECT_EQ(together->virtualMs, alone->virtualMs);
            EXPECT_EQ(together->outcome, SessionResult::Succeeded);
            EXPECT_TRUE(together->moduleHasImage);
        }
    }
}

}  // namespace
}  // namespace kestrel::test
