// Stopping a running session (Ctrl-C, SIGTERM): what the module sees after the stop, how soon
// the session returns, what it reports, and the exit code a front end takes from that.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "session/session_exit_code.h"
#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using L = StopLevel;
using S = StopSignal;
const char* const kInterrupted = "ERROR: Update interrupted.";

// A whole update on COM1 at 115200 whose port waits on a clock that asks for stops: each step
// fires once its condition holds, at the first wait after it (a signal lands at any moment,
// and what notices it looks between waits), and only after the step before it.
struct StoppedRun : UpdateRun, Clock {
    struct Step {
        std::function<bool()> when;
        L level = L::Finish;
        bool fired = false;
        uint32_t atMs = 0;        // virtual ms of the request
        size_t eventsAtFire = 0;  // the device's events up to then
    };
    StoppedRun(StopRequest& stop, std::vector<Record> recs, sim::ModuleConfig config,
               S by = S::Interrupt)
        : UpdateRun(std::move(recs), config, !config.firmwarePresent),
          stop(stop),
          by(by),
          port(w.os, *this) {
        w.host.fields.usb = config.usb;
    }
    uint32_t nowMs() override { return w.clock.nowMs(); }
    void sleepMs(uint32_t ms) override {
        w.clock.sleepMs(ms);
        for (Step& step : steps) {
            if (step.fired) continue;
            if (!step.when()) return;
            step = {step.when, step.level, true, w.clock.elapsed(), w.os.events.size()};
            return stop.request(step.level, by);
        }
    }
    StoppedRun& go() {
        outcome =
            runUpdateSession(w.host, {port, *w.image, &lock, nullptr, nullptr, w.locator, &stop});
        returnedMs = w.clock.elapsed();
        return *this;
    }
    // What the driver did after the `i`-th stop that a module would notice: opens, line
    // settings, a rising DTR, writes. Closing (DTR dropped, device released) is the way out.
    std::vector<Event> noticedAfter(size_t i) const {
        using K = Event::Kind;
        std::vector<Event> out;
        for (size_t e = steps.at(i).eventsAtFire; e < w.os.events.size(); ++e) {
            const Event& ev = w.os.events[e];
            if (ev.kind == K::Open || ev.kind == K::OpenFailed || ev.kind == K::Settings ||
                ev.kind == K::Write || (ev.kind == K::Dtr && ev.on))
                out.push_back(ev);
        }
        return out;
    }
    void expectInterrupted() const {
        EXPECT_EQ(outcome.result, SessionResult::Interrupted);
        EXPECT_EQ(exitCodeOf(outcome), by == S::Terminate ? 143 : 130);
        EXPECT_EQ(w.host.lastStatus(), kInterrupted);
        EXPECT_FALSE(w.host.showed("Download succeeded."));
        EXPECT_FALSE(w.host.showed("Download succeeded, finishing update process."));
        expectReleased();
        EXPECT_FALSE(lock.held);
    }
    StopRequest& stop;
    S by;
    SerialPort port;
    CountingLock lock;
    std::vector<Step> steps;
    uint32_t returnedMs = 0;
};

using When = std::function<bool(const StoppedRun&)>;
When after(uint32_t ms) {
    return [ms](const StoppedRun& r) { return r.w.clock.elapsed() >= ms; };
}

TEST(Interruption, BeforeTheTransferNothingMoreReachesTheModule) {
    const auto told = [](const StoppedRun& r) {
        return r.w.host.showed("INFO: original baudrate = 57600");
    };
    const auto thirdFailedOpen = [](const StoppedRun& r) {
        return r.w.os.eventsOf(Event::Kind::OpenFailed).size() == 3;
    };
    const auto at57600 = firmwareModule(57600);
    const auto silentLoader = with(loaderModule(), [](auto& c) { c.sendStartByte = false; });
    struct Case {
        const char* what;
        sim::ModuleConfig config;
        When when;  // null: asked before the session began
        L level;
        S by;
        uint32_t withinMs;  // from the request to the session's return
        const char* phases;
    } cases[] = {
        {"before the session began", at57600, nullptr, L::Finish, S::Interrupt, 0, ""},
        {"in the pause before the entry", at57600, after(500), L::Finish, S::Terminate, 100,
         "entry "},
        // The request lands in the pause before the next command, which is never written.
        {"after the module told its rate", at57600, told, L::Finish, S::Interrupt, 100, "entry "},
        {"in the blind entry's pause", loaderModule(), after(3000), L::Finish, S::Interrupt, 100,
         "entry "},
        {"in the USB port's re-open retries", usbModule(10000), thirdFailedOpen, L::Finish,
         S::Terminate, 100, "entry "},
        {"in the start signal's wait", silentLoader, after(12000), L::Finish, S::Interrupt, 5,
         "entry start-signal "},
        {"at once, in the start signal's wait", silentLoader, after(12000), L::AtOnce, S::Terminate,
         5, "entry start-signal "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StopRequest stop;
        StoppedRun r(stop, makeRecords(3), c.config, c.by);
        if (c.when)
            r.steps.push_back({[&r, &c] { return c.when(r); }, c.level});
        else
            stop.request(c.level, c.by);
        r.go().expectInterrupted();
        EXPECT_EQ(r.w.host.phases, c.phases);
        EXPECT_EQ(r.w.module.stats().recordsAccepted, 0);
        if (!c.when) {
            EXPECT_TRUE(r.w.os.events.empty());  // not even opened
            EXPECT_EQ(r.lock.acquired, 0);
            continue;
        }
        ASSERT_TRUE(r.steps[0].fired);
        EXPECT_LE(r.returnedMs - r.steps[0].atMs, c.withinMs);
        EXPECT_TRUE(r.noticedAfter(0).empty()) << "first: " << escaped(r.noticedAfter(0)[0].text);
    }
}

// Level Finish during the transfer: the block in flight gets its answer, nothing more is sent,
// and the hand-back runs exactly as after a failure at the block that was not accepted.
TEST(Interruption, DuringTheTransferTheBlockInFlightSettlesAndTheHandBackRuns) {
    struct Case {
        const char* what;
        int stopAt;          // the block the module is receiving when the stop comes
        uint8_t answer;      // its answer to that block
        int32_t blockIndex;  // the first block not accepted
    } cases[] = {
        {"block 2 accepted", 2, 0x01, 3},
        {"block 2 asked for again", 2, 0x02, 2},
        // Every block accepted: nothing is left to stop, the hand-back runs as always.
        {"the last block accepted", 5, 0x01, -1},
    };
    const auto records = makeRecords(6);
    // A module at 57600 answering 0x01 to every block but `block`, which gets `answer`.
    const auto answering = [](int block, uint8_t answer, StopRequest* stop) {
        sim::ModuleConfig c = firmwareModule(57600);
        c.answers = [=](int b, int) {
            if (b == block && stop) stop->request(L::Finish, S::Terminate);
            return sim::BlockAnswer{sim::BlockAnswer::Kind::Byte, b == block ? answer : uint8_t{1}};
        };
        return c;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StopRequest stop;
        StoppedRun r(stop, records, answering(c.stopAt, c.answer, &stop), S::Terminate);
        r.go();
        const bool succeeded = c.blockIndex == -1;
        EXPECT_EQ(r.outcome.blockIndex, c.blockIndex);
        EXPECT_EQ(r.w.module.stats().recordsAccepted, succeeded ? 6 : c.blockIndex);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(r.sendsOf(i), i <= c.stopAt ? 1 : 0) << i;
        EXPECT_EQ(r.outcome.recordsSent, c.stopAt + 1);
        EXPECT_EQ(r.outcome.bytesSent, 73u * static_cast<uint32_t>(c.stopAt + 1));
        EXPECT_EQ(r.w.host.phases, "entry start-signal transfer hand-back ");
        EXPECT_TRUE(r.w.module.switchedOff());  // handed back: own rate, switched off
        EXPECT_FALSE(r.outcome.handBackFailed);
        if (succeeded) {
            EXPECT_EQ(r.outcome.result, SessionResult::Succeeded);
            EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
            r.expectReleased();
            continue;
        }
        r.expectInterrupted();
        // The same road with that block refused instead: the same hand-back, byte for byte
        // and in the same time.
        UpdateRun failed(records, answering(c.blockIndex, 0x15, nullptr), false);
        ASSERT_EQ(failed.run().outcome.result, SessionResult::TransferFailed);
        const Texts timed = transcriptFromOpen(r.dialogue(true), 1);
        const Texts failedTimed = transcriptFromOpen(failed.dialogue(true), 1);
        ASSERT_FALSE(timed.empty());
        EXPECT_EQ(transcriptFromOpen(r.dialogue(), 1), transcriptFromOpen(failed.dialogue(), 1));
        ASSERT_EQ(timed.size(), failedTimed.size());
        EXPECT_EQ(std::stoul(timed.back()) - std::stoul(timed.front()),
                  std::stoul(failedTimed.back()) - std::stoul(failedTimed.front()));
    }
}

// A second Ctrl-C while the loader keeps a block waiting: the first lets the wait go on, the
// second ends it within a poll, and the module is left as it is.
TEST(Interruption, AtOnceEndsALongAnswerWaitWithoutHandBack) {
    StopRequest stop;
    sim::ModuleConfig config = firmwareModule(57600);
    config.answers = [](int block, int) {
        return block == 1 ? sim::BlockAnswer{sim::BlockAnswer::Kind::Silence} : sim::BlockAnswer{};
    };
    StoppedRun r(stop, makeRecords(3), config);
    auto waitedSinceBlock1 = [&r](uint32_t ms) {
        const auto sends = writesOf(r.w.os, wire(r.records[1]));
        return !sends.empty() && r.w.clock.elapsed() >= sends[0].atMs + ms;
    };
    r.steps.push_back({[&] { return waitedSinceBlock1(1000); }, L::Finish});
    r.steps.push_back({[&] { return waitedSinceBlock1(3000); }, L::AtOnce});
    r.go();
    ASSERT_TRUE(r.steps[1].fired) << "the first stop cut the wait";
    EXPECT_LE(r.returnedMs - r.steps[1].atMs, 5u);
    r.expectInterrupted();
    EXPECT_EQ(r.outcome.blockIndex, 1);
    EXPECT_TRUE(r.outcome.handBackFailed);
    EXPECT_FALSE(r.w.host.showed("ERROR: Timout waiting fo response after block no.1"));
    EXPECT_TRUE(r.noticedAfter(0).empty());  // no hand-back: no open, restart or command
    EXPECT_FALSE(r.w.module.switchedOff());
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Close).size(), 1u);  // closed on the way out
    EXPECT_EQ(r.w.host.phases, "entry start-signal transfer ");
    // A stop is never undone, and the first signal to ask names it.
    stop.request(L::Finish, S::Terminate);
    EXPECT_EQ(stop.level(), L::AtOnce);
    EXPECT_EQ(stop.askedBy(), S::Interrupt);
}

TEST(ExitCodes, EveryResultHasItsCodeAndName) {
    // SessionResult and BlockFailure in their declared order.
    const int codes[] = {0, 3, 4, 5, 5, 5, 6, 7, 130};
    const Texts names = split(
        "succeeded|port-not-opened|image-unreadable|download-mode-not-entered|"
        "usb-port-not-reopened|no-start-signal|transfer-failed|hand-back-failed|interrupted");
    SessionOutcome o;
    for (int i = 0; i < 9; ++i) {
        o.result = static_cast<SessionResult>(i);
        EXPECT_EQ(exitCodeOf(o), codes[i]) << names[i];
        EXPECT_EQ(resultName(o.result), names[i]);
    }
    o.stoppedBy = S::Terminate;
    EXPECT_EQ(exitCodeOf(o), 143);
    const Texts failures =
        split("none|no-answer|too-many-retries|fatal-answer|image-broken|stray-answer");
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(blockFailureName(static_cast<BlockFailure>(i)), failures[i]);
}

}  // namespace
}  // namespace kestrel::test
