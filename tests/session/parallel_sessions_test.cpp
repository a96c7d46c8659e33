// Two sessions at once in one process, each with its own port, image, clock and module: what
// each does on its own thread must be exactly what it does alone.
#include <gtest/gtest.h>

#include <thread>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

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
