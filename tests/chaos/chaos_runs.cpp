// Randomized fault runs in virtual time: thousands of whole sessions, each against a module
// made from a seed (NAKs, busy runs, silence, a port that vanishes or comes back late, line
// errors, garbage before the start signal, doubled and late answers, rate changes, slow
// boots), each checked for the invariants of chaos_world.h. A broken seed prints the one
// command that plays it again:
//
//   chaos_runs --seed N --count 1      (--trace: everything on the line)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "chaos/chaos_world.h"
#include "session/status_texts.h"

namespace kestrel::test {
namespace {

struct RunOptions {
    unsigned long long firstSeed = 1, count = 10000;
    bool trace = false;  // with a single session: everything on the line
    std::string program = "chaos_runs";
};

RunOptions& runOptions() {
    static RunOptions options;
    return options;
}

TEST(ChaosRuns, EverySeededSessionKeepsItsInvariants) {
    const RunOptions& o = runOptions();
    std::map<std::string, int> results;
    for (unsigned long long seed = o.firstSeed; seed < o.firstSeed + o.count; ++seed) {
        const sim::ChaosPlan plan = sim::makeChaosPlan(seed);
        ChaosWorld cw(plan);
        cw.run();
        const std::vector<std::string> broken = brokenInvariants(cw);
        ++results[describeResult(cw.outcome.result)];
        if (o.count == 1 || !broken.empty())
            std::printf("%s", sessionReport(cw, o.count == 1 && o.trace).c_str());
        for (const std::string& b : broken)
            ADD_FAILURE() << "seed " << seed << ": " << b;
        if (!broken.empty()) {
            std::printf("chaos: seed %llu broke: %s; replay: %s --seed %llu --count 1\n", seed,
                        broken.front().c_str(), o.program.c_str(), seed);
            return;
        }
    }
    std::printf("chaos: %llu sessions from seed %llu:", o.count, o.firstSeed);
    for (const auto& [result, n] : results)
        std::printf(" %s %d;", result.c_str(), n);
    std::printf("\n");
    // Enough sessions must see every way a session ends, or the generator has gone stale.
    if (o.count >= 2000) {
        EXPECT_GE(results["succeeded"], static_cast<int>(o.count / 10));
        for (SessionResult r : {SessionResult::PortNotOpened, SessionResult::DownloadModeNotEntered,
                                SessionResult::UsbPortNotReopened, SessionResult::NoStartSignal,
                                SessionResult::TransferFailed, SessionResult::HandBackFailed})
            EXPECT_GT(results[describeResult(r)], 0) << describeResult(r);
    }
}

TEST(ChaosRuns, ASeedPlaysAgainExactly) {
    for (uint64_t seed : {3ull, 0xFFFFFFFFFFFFull}) {
        const sim::ChaosPlan plan = sim::makeChaosPlan(seed), again = sim::makeChaosPlan(seed);
        ChaosWorld first(plan), second(again);
        first.run();
        second.run();
        EXPECT_EQ(sessionReport(first, true), sessionReport(second, true));
    }
}

// The checks themselves: a clean session passes, and each forged fault is named.
TEST(ChaosChecks, EachBrokenInvariantIsNamed) {
    sim::ChaosPlan plan;  // a module, link and operator that do everything right
    plan.module.firmwarePresent = false;
    for (uint8_t i = 0; i < 3; ++i)
        plan.module.expectedRecords.push_back({2, i, 0xA5});
    plan.op = sim::ChaosOperator{sim::kChaosPortName, "115200", false, true, ""};
    sim::ChaosPlan halting = plan;  // its loader refuses the second record
    halting.module.answers = sim::chaosAnswerScript({{1, 0, {sim::BlockAnswer::Kind::Byte, 0x15}}});
    using Forge = void (*)(ChaosWorld&);
    const Forge succeed = [](ChaosWorld& cw) { cw.w.host.setStatus(status::kSucceeded); };
    const Forge open = [](ChaosWorld& cw) { cw.port.openPort(sim::kChaosPortName, 115200, 0); };
    const struct {
        const sim::ChaosPlan* plan;
        Forge forge;  // none: the clean session, nothing named
        const char* named;
    } kCases[] = {
        {&plan, nullptr, ""},
        {&halting, succeed,
         "\"Download succeeded.\" but the module did not take exactly the image"},
        {&halting, succeed, "outcome and status disagree"},
        {&plan, succeed, "\"Download succeeded.\" shown more than once"},
        {&plan, [](ChaosWorld& cw) { cw.w.host.setStatus(status::kWaitingForStart); },
         "\"Download succeeded.\" is not the last status"},
        {&plan, [](ChaosWorld& cw) { cw.w.host.enableStart(); },
         "START not given back exactly once"},
        {&plan, open, "port left open"},
        {&plan, open, "port opened without the claim"},
        {&plan, [](ChaosWorld& cw) { cw.w.image->openImage(""); }, "image left open"},
        {&plan, [](ChaosWorld& cw) { cw.lock.held = true; }, "claimed and released exactly once"},
        {&plan, [](ChaosWorld& cw) { cw.w.clock.advance(sessionBoundMs(cw)); },
         "session took longer"},
        {&plan,
         [](ChaosWorld& cw) {
             for (int i = 0; i < 11; ++i)
                 cw.w.os.write(cw.plan.records()[2].data(), 3);
         },
         "a record sent more than 11 times in a row"},
        {&plan,
         [](ChaosWorld& cw) {
             for (int i = 0; i < 22; ++i)
                 cw.w.host.setStatus("WARNING: invalid start acknowledgement (0x00) received");
         },
         "the start wait went past its try limit"},
    };
    for (const auto& c : kCases) {
        ChaosWorld cw(*c.plan);
        cw.run();
        if (c.forge != nullptr) c.forge(cw);
        std::string named;
        for (const std::string& b : brokenInvariants(cw))
            named += b + "; ";
        if (c.forge == nullptr)
            EXPECT_TRUE(cw.outcome.succeeded() && named.empty()) << named;
        else
            EXPECT_NE(named.find(c.named), std::string::npos) << c.named << ": " << named;
    }
}

}  // namespace
}  // namespace kestrel::test

// --seed N, --count N and --trace, once gtest has taken its own flags.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    kestrel::test::RunOptions& o = kestrel::test::runOptions();
    o.program = argv[0];
    for (int i = 1; i < argc; ++i) {
        const bool seed = std::strcmp(argv[i], "--seed") == 0;
        bool ok = std::strcmp(argv[i], "--trace") == 0;
        o.trace = o.trace || ok;
        if ((seed || std::strcmp(argv[i], "--count") == 0) && i + 1 < argc) {
            char* end = nullptr;
            (seed ? o.firstSeed : o.count) = std::strtoull(argv[++i], &end, 0);
            ok = end != argv[i] && *end == '\0';
        }
        if (!ok) {
            std::fprintf(stderr, "usage: %s [--seed N] [--count N] [--trace] [gtest options]\n",
                         argv[0]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
