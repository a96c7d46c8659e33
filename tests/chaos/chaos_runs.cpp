// Randomized fault runs in virtual time: thousands of whole sessions, each against a module
// made from a seed (NAKs, busy runs, silence, a port that vanishes or comes back late, line
// errors, garbage before the start signal, doubled and late answers, rate changes, slow
// boots), each checked for the invariants of chaos_checks.h. A broken seed prints the one
// command that plays it again:
//
//   chaos_runs --seed N --count 1      (--trace: everything on the line)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "chaos/chaos_checks.h"
#include "session/status_texts.h"

namespace kestrel::test {
namespace {

struct RunOptions {
    uint64_t firstSeed = 1;
    uint64_t count = 10000;
    bool trace = false;  // with a single session: everything on the line
    std::string program = "chaos_runs";
};

RunOptions& runOptions() {
    static RunOptions options;
    return options;
}

// A session whose module, link and operator do everything right.
sim::ChaosPlan cleanPlan(int records) {
    sim::ChaosPlan plan;
    plan.module.firmwarePresent = false;
    for (int i = 0; i < records; ++i)
        plan.module.expectedRecords.push_back({2, static_cast<uint8_t>(i), 0xA5});
    plan.op = sim::ChaosOperator{sim::kChaosPortName, "115200", false, true, ""};
    return plan;
}

TEST(ChaosRuns, EverySeededSessionKeepsItsInvariants) {
    const RunOptions& o = runOptions();
    std::map<std::string, int> results;
    uint64_t virtualMs = 0;
    const auto started = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < o.count; ++i) {
        const uint64_t seed = o.firstSeed + i;
        const sim::ChaosPlan plan = sim::makeChaosPlan(seed);
        ChaosWorld cw(plan);
        cw.run();
        const std::vector<std::string> broken = brokenInvariants(cw);
        ++results[describeResult(cw.outcome.result)];
        virtualMs += cw.w.clock.elapsed();
        if (o.count == 1 && o.trace) std::printf("%s", sessionTrace(cw).c_str());
        if (o.count == 1 || !broken.empty()) std::printf("%s", sessionDetails(cw).c_str());
        if (!broken.empty()) {
            std::printf("chaos: seed %llu broke: %s; replay: %s --seed %llu --count 1\n",
                        static_cast<unsigned long long>(seed), broken.front().c_str(),
                        o.program.c_str(), static_cast<unsigned long long>(seed));
            for (const std::string& b : broken)
                ADD_FAILURE() << "seed " << seed << ": " << b;
            return;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("chaos: %llu sessions (seeds %llu..%llu) in %.1f s, %.1f virtual hours:",
                static_cast<unsigned long long>(o.count),
                static_cast<unsigned long long>(o.firstSeed),
                static_cast<unsigned long long>(o.firstSeed + o.count - 1), seconds,
                static_cast<double>(virtualMs) / 3.6e6);
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
        const sim::ChaosPlan plan = sim::makeChaosPlan(seed);
        EXPECT_EQ(plan.describe(), sim::makeChaosPlan(seed).describe());
        ChaosWorld first(plan), again(plan);
        first.run();
        again.run();
        EXPECT_EQ(sessionDetails(first), sessionDetails(again));
        EXPECT_EQ(first.w.os.events.size(), again.w.os.events.size());
    }
}

// The checks themselves: a clean session passes, and each forged fault is named.
TEST(ChaosChecks, EachBrokenInvariantIsNamed) {
    const sim::ChaosPlan plan = cleanPlan(3);
    {
        ChaosWorld cw(plan);
        cw.run();
        ASSERT_TRUE(cw.outcome.succeeded()) << sessionDetails(cw);
        EXPECT_EQ(brokenInvariants(cw), std::vector<std::string>{});
    }
    sim::ChaosPlan halting = plan;
    halting.answers = {{1, 0, sim::BlockAnswer{sim::BlockAnswer::Kind::Byte, 0x15}}};
    halting.module.answers = sim::chaosAnswerScript(halting.answers);
    const struct {
        const sim::ChaosPlan* plan;
        void (*forge)(ChaosWorld&);
        const char* named;
    } kCases[] = {
        {&halting, [](ChaosWorld& cw) { cw.w.host.setStatus(status::kSucceeded); },
         "\"Download succeeded.\" but the module did not take exactly the image"},
        {&halting, [](ChaosWorld& cw) { cw.w.host.setStatus(status::kSucceeded); },
         "outcome and status disagree"},
        {&plan, [](ChaosWorld& cw) { cw.w.host.setStatus(status::kSucceeded); },
         "\"Download succeeded.\" shown more than once"},
        {&plan, [](ChaosWorld& cw) { cw.w.host.setStatus("Waiting for start signal."); },
         "\"Download succeeded.\" is not the last status"},
        {&plan, [](ChaosWorld& cw) { cw.w.host.enableStart(); },
         "START given back 2 times instead of once"},
        {&plan, [](ChaosWorld& cw) { cw.port.openPort(sim::kChaosPortName, 115200, false); },
         "port left open"},
        {&plan, [](ChaosWorld& cw) { cw.port.openPort(sim::kChaosPortName, 115200, false); },
         "port opened without the claim"},
        {&plan, [](ChaosWorld& cw) { cw.w.image->openImage(""); }, "image left open"},
        {&plan, [](ChaosWorld& cw) { cw.lock.held = true; },
         "claim released 1 times, still held: 1"},
        {&plan, [](ChaosWorld& cw) { cw.w.clock.advance(sessionBoundMs(cw)); }, "more than the"},
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
        c.forge(cw);
        const std::vector<std::string> broken = brokenInvariants(cw);
        bool named = false;
        for (const std::string& b : broken)
            named = named || b.find(c.named) != std::string::npos;
        EXPECT_TRUE(named) << c.named;
    }
}

// --seed N, --count N and --trace among gtest's own flags.
bool takeNumber(const char* text, uint64_t* value) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0') return false;
    *value = v;
    return true;
}

}  // namespace
}  // namespace kestrel::test

int main(int argc, char** argv) {
    kestrel::test::RunOptions& o = kestrel::test::runOptions();
    o.program = argv[0];
    bool ok = true;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const bool seed = std::strcmp(argv[i], "--seed") == 0;
        if (std::strcmp(argv[i], "--trace") == 0)
            o.trace = true;
        else if ((seed || std::strcmp(argv[i], "--count") == 0) && i + 1 < argc)
            ok = ok && kestrel::test::takeNumber(argv[++i], seed ? &o.firstSeed : &o.count);
        else
            argv[kept++] = argv[i];
    }
    if (!ok) {
        std::fprintf(stderr, "usage: %s [--seed N] [--count N] [--trace] [gtest options]\n",
                     argv[0]);
        return 2;
    }
    argc = kept;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
