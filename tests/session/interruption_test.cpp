// Stopping a running session (Ctrl-C, SIGTERM): what the module sees after the stop, how soon
// the session returns, what it reports, and the exit code a front end takes from that.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "session/session_exit_code.h"
#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;
const char* const kInterrupted = "ERROR: Update interrupted.";

// Asks for a stop once its condition holds, at the first wait after it: a signal lands at
// any moment, and what notices it looks between waits.
struct StopStep {
    std::function<bool()> when;
    StopLevel level = StopLevel::Finish;
    bool fired = false;
    uint32_t atMs = 0;        // virtual ms of the request
    size_t eventsAtFire = 0;  // the device's events up to then
};

class StoppingClock final : public Clock {
  public:
    StoppingClock(VirtualClock& clock, FakeSerialOs& os, StopRequest& stop, StopSignal by)
        : clock_(clock), os_(os), stop_(stop), by_(by) {}
    uint32_t nowMs() override { return clock_.nowMs(); }
    void sleepMs(uint32_t ms) override {
        clock_.sleepMs(ms);
        for (StopStep& step : steps) {
            if (step.fired) continue;
            if (!step.when()) return;
            step.fired = true;
            step.atMs = clock_.elapsed();
            step.eventsAtFire = os_.events.size();
            stop_.request(step.level, by_);
            return;
        }
    }
    std::vector<StopStep> steps;  // in order, each only after the one before

  private:
    VirtualClock& clock_;
    FakeSerialOs& os_;
    StopRequest& stop_;
    StopSignal by_;
};

// The recording front end, plus the phases as their names.
struct PhaseHost final : SessionHost {
    explicit PhaseHost(RecordingHost& to) : to(to) {}
    void readFields(SessionFields* f) override { to.readFields(f); }
    void setStatus(const char* text) override { to.setStatus(text); }
    void setProgressRange(int32_t m) override { to.setProgressRange(m); }
    void setProgressPosition(int32_t p) override { to.setProgressPosition(p); }
    void enableStart() override { to.enableStart(); }
    void phaseChanged(SessionPhase phase) override {
        phases += describePhase(phase) + std::string(" ");
    }
    RecordingHost& to;
    std::string phases;
};

struct CountingLock final : PortLock {
    bool acquire(const char*, SystemError*) override {
        ++acquired;
        held = true;
        return true;
    }
    void release() override { held = false; }
    const char* identity() const override { return "COM1"; }
    int acquired = 0;
    bool held = false;
};

// A whole update on COM1 at 115200 whose port waits on a clock that asks for stops.
struct StoppedRun : UpdateRun {
    StoppedRun(StopRequest& stop, std::vector<Record> recs, sim::ModuleConfig config,
               bool noFirmware, StopSignal by = StopSignal::Interrupt)
        : UpdateRun(std::move(recs), std::move(config), noFirmware),
          stop(stop),
          clock(w.clock, w.os, stop, by),
          port(w.os, clock),
          host(w.host) {}
    StoppedRun& go() {
        outcome =
            runUpdateSession(host, {port, *w.image, &lock, nullptr, nullptr, w.locator, &stop});
        returnedMs = w.clock.elapsed();
        return *this;
    }
    // What the driver did after the `i`-th stop that a module would notice: opens, line
    // settings, a rising DTR, writes. Closing (DTR dropped, device released) is the way out.
    std::vector<Event> noticedAfter(size_t i) const {
        using K = Event::Kind;
        std::vector<Event> out;
        for (size_t e = clock.steps.at(i).eventsAtFire; e < w.os.events.size(); ++e) {
            const Event& ev = w.os.events[e];
            if (ev.kind == K::Open || ev.kind == K::OpenFailed || ev.kind == K::Settings ||
                ev.kind == K::Write || (ev.kind == K::Dtr && ev.on))
                out.push_back(ev);
        }
        return out;
    }
    void expectInterrupted(StopSignal by) const {
        EXPECT_EQ(outcome.result, SessionResult::Interrupted);
        EXPECT_EQ(exitCodeOf(outcome), by == StopSignal::Terminate ? 143 : 130);
        EXPECT_FALSE(w.host.showed("Download succeeded."));
        EXPECT_FALSE(w.host.showed("Download succeeded, finishing update process."));
        expectReleased();
        EXPECT_FALSE(lock.held);
    }
    StopRequest& stop;
    StoppingClock clock;
    SerialPort port;
    PhaseHost host;
    CountingLock lock;
    uint32_t returnedMs = 0;
};

sim::ModuleConfig silentLoader() {
    sim::ModuleConfig c = loaderModule();
    c.sendStartByte = false;
    return c;
}

sim::ModuleConfig usbFirmware() {
    sim::ModuleConfig c;
    c.usb = true;
    c.usbGoneMs = 10000;  // the re-open retries run for seconds
    return c;
}

TEST(Interruption, BeforeTheTransferNothingMoreReachesTheModule) {
    struct Case {
        const char* what;
        sim::ModuleConfig config;
        bool noFirmware, usb;
        std::function<bool(const StoppedRun&)> when;  // null: asked before the session began
        StopLevel level;
        StopSignal by;
        uint32_t withinMs;  // from the request to the session's return
        std::string phases;
        size_t openFailures;
    } cases[] = {
        {"before the session began", firmwareModule(57600), false, false, nullptr,
         StopLevel::Finish, StopSignal::Interrupt, 0, "", 0},
        {"in the pause before the entry", firmwareModule(57600), false, false,
         [](const StoppedRun& r) { return r.w.clock.elapsed() >= 500; }, StopLevel::Finish,
         StopSignal::Terminate, 100, "entry ", 0},
        // The request lands in the pause before the next command, which is never written.
        {"after the module told its rate", firmwareModule(57600), false, false,
         [](const StoppedRun& r) { return r.w.host.showed("INFO: original baudrate = 57600"); },
         StopLevel::Finish, StopSignal::Interrupt, 100, "entry ", 0},
        {"in the blind entry's pause", loaderModule(), true, false,
         [](const StoppedRun& r) { return r.w.clock.elapsed() >= 3000; }, StopLevel::Finish,
         StopSignal::Interrupt, 100, "entry ", 0},
        {"in the USB port's re-open retries", usbFirmware(), false, true,
         [](const StoppedRun& r) { return r.w.os.eventsOf(Event::Kind::OpenFailed).size() == 3; },
         StopLevel::Finish, StopSignal::Terminate, 100, "entry ", 3},
        {"in the start signal's wait", silentLoader(), true, false,
         [](const StoppedRun& r) { return r.w.clock.elapsed() >= 12000; }, StopLevel::Finish,
         StopSignal::Interrupt, 5, "entry start-signal ", 0},
        {"at once, in the start signal's wait", silentLoader(), true, false,
         [](const StoppedRun& r) { return r.w.clock.elapsed() >= 12000; }, StopLevel::AtOnce,
         StopSignal::Terminate, 5, "entry start-signal ", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StopRequest stop;
        StoppedRun r(stop, makeRecords(3), c.config, c.noFirmware, c.by);
        r.w.host.fields.usb = c.usb;
        if (c.when)
            r.clock.steps.push_back({[&r, &c] { return c.when(r); }, c.level});
        else
            stop.request(c.level, c.by);
        r.go();
        r.expectInterrupted(c.by);
        EXPECT_EQ(r.w.host.lastStatus(), kInterrupted);
        EXPECT_EQ(r.host.phases, c.phases);
        EXPECT_EQ(r.w.os.eventsOf(Event::Kind::OpenFailed).size(), c.openFailures);
        EXPECT_EQ(r.w.module.stats().recordsAccepted, 0);
        if (!c.when) {
            EXPECT_TRUE(r.w.os.events.empty());  // not even opened
            EXPECT_EQ(r.lock.acquired, 0);
            continue;
        }
        ASSERT_TRUE(r.clock.steps[0].fired);
        EXPECT_LE(r.returnedMs - r.clock.steps[0].atMs, c.withinMs);
        EXPECT_TRUE(r.noticedAfter(0).empty()) << "first: " << escaped(r.noticedAfter(0)[0].text);
    }
}

// Level Finish during the transfer: the block in flight gets its answer, nothing more is sent,
// and the hand-back runs exactly as after a failure at the block that was not accepted.
TEST(Interruption, DuringTheTransferTheBlockInFlightSettlesAndTheHandBackRuns) {
    struct Case {
        const char* what;
        int stopAt;      // the block the module is receiving when the stop comes
        uint8_t answer;  // its answer to that block
        SessionResult result;
        int32_t blockIndex;  // the first block not accepted
        int accepted;
    } cases[] = {
        {"block 2 accepted", 2, 0x01, SessionResult::Interrupted, 3, 3},
        {"block 2 asked for again", 2, 0x02, SessionResult::Interrupted, 2, 2},
        // Every block accepted: nothing is left to stop, the hand-back runs as always.
        {"the last block accepted", 5, 0x01, SessionResult::Succeeded, -1, 6},
    };
    const auto records = makeRecords(6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StopRequest stop;
        auto answers = [&stop, &c](int block, int) {
            if (block == c.stopAt) stop.request(StopLevel::Finish, StopSignal::Terminate);
            return sim::BlockAnswer{sim::BlockAnswer::Kind::Byte,
                                    block == c.stopAt ? c.answer : uint8_t{0x01}};
        };
        sim::ModuleConfig config = firmwareModule(57600);
        config.answers = answers;
        StoppedRun r(stop, records, config, false, StopSignal::Terminate);
        r.go();
        EXPECT_EQ(r.outcome.result, c.result);
        EXPECT_EQ(r.outcome.blockIndex, c.blockIndex);
        EXPECT_EQ(r.w.module.stats().recordsAccepted, c.accepted);
        EXPECT_EQ(r.sendsOf(c.stopAt), 1);
        if (c.stopAt + 1 < 6) {
            EXPECT_EQ(r.sendsOf(c.stopAt + 1), 0);
        }
        EXPECT_EQ(r.outcome.recordsSent, c.stopAt + 1);
        EXPECT_EQ(r.outcome.bytesSent, 73u * static_cast<uint32_t>(c.stopAt + 1));
        EXPECT_EQ(r.host.phases, "entry start-signal transfer hand-back ");
        EXPECT_TRUE(r.w.module.switchedOff());  // handed back: own rate, switched off
        EXPECT_FALSE(r.outcome.handBackFailed);
        r.expectReleased();
        if (c.result == SessionResult::Succeeded) {
            EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
            continue;
        }
        r.expectInterrupted(StopSignal::Terminate);
        EXPECT_EQ(r.w.host.texts().back(), kInterrupted);
        EXPECT_FALSE(r.w.host.showed("Download succeeded, finishing update process."));
        EXPECT_EQ(r.w.host.positions.back(), 6);  // the bar fills, as after a failure

        // The same road with that block refused instead: the same hand-back, byte for byte.
        sim::ModuleConfig refusing = firmwareModule(57600);
        const int refused = c.blockIndex;
        refusing.answers = [refused](int block, int) {
            return sim::BlockAnswer{sim::BlockAnswer::Kind::Byte,
                                    block == refused ? uint8_t{0x15} : uint8_t{0x01}};
        };
        UpdateRun failed(records, refusing, false);
        failed.run();
        ASSERT_EQ(failed.outcome.result, SessionResult::TransferFailed);
        const Texts handBack = transcriptFromOpen(r.dialogue(), 1);
        EXPECT_FALSE(handBack.empty());
        EXPECT_EQ(handBack, transcriptFromOpen(failed.dialogue(), 1));
        const Texts timed = transcriptFromOpen(r.dialogue(true), 1);
        const Texts failedTimed = transcriptFromOpen(failed.dialogue(true), 1);
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
    StoppedRun r(stop, makeRecords(3), config, false);
    auto waitedSinceBlock1 = [&r](uint32_t ms) {
        const auto sends = writesOf(r.w.os, wire(r.records[1]));
        return !sends.empty() && r.w.clock.elapsed() >= sends[0].atMs + ms;
    };
    r.clock.steps.push_back({[&] { return waitedSinceBlock1(1000); }, StopLevel::Finish});
    r.clock.steps.push_back({[&] { return waitedSinceBlock1(3000); }, StopLevel::AtOnce});
    r.go();
    ASSERT_TRUE(r.clock.steps[1].fired) << "the first stop cut the wait";
    EXPECT_LE(r.returnedMs - r.clock.steps[1].atMs, 5u);
    r.expectInterrupted(StopSignal::Interrupt);
    EXPECT_EQ(r.outcome.blockIndex, 1);
    EXPECT_TRUE(r.outcome.handBackFailed);
    EXPECT_EQ(r.w.host.lastStatus(), kInterrupted);
    EXPECT_FALSE(r.w.host.showed("ERROR: Timout waiting fo response after block no.1"));
    EXPECT_TRUE(r.noticedAfter(0).empty());  // no hand-back: no open, restart or command
    EXPECT_FALSE(r.w.module.switchedOff());
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Close).size(), 1u);  // closed on the way out
    EXPECT_EQ(r.host.phases, "entry start-signal transfer ");
    // A stop is never undone, and the first signal to ask names it.
    stop.request(StopLevel::Finish, StopSignal::Terminate);
    EXPECT_EQ(stop.level(), StopLevel::AtOnce);
    EXPECT_EQ(stop.askedBy(), StopSignal::Interrupt);
}

TEST(ExitCodes, EveryResultHasItsCodeAndName) {
    struct Case {
        SessionResult result;
        StopSignal by;
        int code;
        const char* name;
    } cases[] = {
        {SessionResult::Succeeded, StopSignal::Interrupt, 0, "succeeded"},
        {SessionResult::PortNotOpened, StopSignal::Interrupt, 3, "port-not-opened"},
        {SessionResult::ImageUnreadable, StopSignal::Interrupt, 4, "image-unreadable"},
        {SessionResult::DownloadModeNotEntered, StopSignal::Interrupt, 5,
         "download-mode-not-entered"},
        {SessionResult::UsbPortNotReopened, StopSignal::Interrupt, 5, "usb-port-not-reopened"},
        {SessionResult::NoStartSignal, StopSignal::Interrupt, 5, "no-start-signal"},
        {SessionResult::TransferFailed, StopSignal::Interrupt, 6, "transfer-failed"},
        {SessionResult::HandBackFailed, StopSignal::Interrupt, 7, "hand-back-failed"},
        {SessionResult::Interrupted, StopSignal::Interrupt, 130, "interrupted"},
        {SessionResult::Interrupted, StopSignal::Terminate, 143, "interrupted"},
    };
    for (const Case& c : cases) {
        SessionOutcome o;
        o.result = c.result;
        o.stoppedBy = c.by;
        EXPECT_EQ(exitCodeOf(o), c.code) << c.name;
        EXPECT_STREQ(resultName(c.result), c.name);
    }
    const std::pair<BlockFailure, const char*> failures[] = {
        {BlockFailure::None, "none"},
        {BlockFailure::NoAnswer, "no-answer"},
        {BlockFailure::TooManyRetries, "too-many-retries"},
        {BlockFailure::FatalAnswer, "fatal-answer"},
        {BlockFailure::ImageBroken, "image-broken"},
        {BlockFailure::StrayAnswer, "stray-answer"}};
    for (const auto& [failure, name] : failures)
        EXPECT_STREQ(blockFailureName(failure), name);
}

}  // namespace
}  // namespace kestrel::test
