#include "cli/station_front.h"

#include <deque>
#include <list>
#include <map>
#include <memory>

#include "cli/json_line.h"
#include "cli/port_hosts.h"
#include "cli/stop_signals.h"
#include "cli/update_runner.h"
#include "platform/worker_thread.h"
#include "station/station_loop.h"

namespace kestrel {

namespace {

// Each unit's session on a thread of its own; ended ones wait in a queue for the loop.
class SessionLauncher final : public UnitLauncher {
  public:
    explicit SessionLauncher(const RunContext& run) : run_(run) {}
    ~SessionLauncher() override { waitAll(); }
    void setLoop(StationLoop* loop) { loop_ = loop; }

    void launch(const std::string& port) override {
        units_.emplace_back();
        Unit& unit = units_.back();
        unit.owner = this;
        unit.port = port;
        if (!unit.thread.start(runUnit, &unit)) runUnit(&unit);
    }

    bool takeEnded(std::string* port, int* exitCode) override {
        MutexHold hold(mutex_);
        if (ended_.empty()) return false;
        *port = ended_.front().port;
        *exitCode = ended_.front().exitCode;
        results_[*port] = ended_.front();
        ended_.pop_front();
        return true;
    }

    void waitAll() override {
        for (Unit& unit : units_)
            unit.thread.join();
    }

    // The last ended session on `port`, as takeEnded() handed it out.
    const PortResult& resultOf(const std::string& port) { return results_[port]; }

  private:
    struct Unit {
        SessionLauncher* owner = nullptr;
        std::string port;
        WorkerThread thread;
    };

    static void runUnit(void* unit) {
        Unit& u = *static_cast<Unit*>(unit);
        const PortResult result = runPortSession(u.owner->run_, u.port);
        {
            MutexHold hold(u.owner->mutex_);
            u.owner->ended_.push_back(result);
        }
        if (u.owner->loop_ != nullptr) u.owner->loop_->wake();
    }

    const RunContext& run_;
    StationLoop* loop_ = nullptr;
    Mutex mutex_;
    std::list<Unit> units_;  // a list: each unit's address stays while its thread runs
    std::deque<PortResult> ended_;
    std::map<std::string, PortResult> results_;
};

// One record per unit when it ends, and the totals when the station stops.
class StationPrinter final : public StationReport {
  public:
    StationPrinter(const RunContext& run, SessionLauncher& launcher)
        : run_(run), launcher_(launcher) {}

    void unitStarted(const std::string& /*port: its session prints its own begin*/) override {}

    void unitEnded(const std::string& port, int exitCode, uint32_t durationMs) override {
        const PortResult& r = launcher_.resultOf(port);
        const char* result = resultName(r.outcome.result);
        if (run_.mode == OutputMode::Json) {
            JsonLine image;
            image.add("records", run_.image.records).add("sha256", run_.image.sha256);
            run_.console.outLine(jsonEvent("unit", port.c_str())
                                     .add("result", result)
                                     .add("exit_code", exitCode)
                                     .add("duration_ms", durationMs)
                                     .addRaw("image", image.object())
                                     .add("version", KESTREL_VERSION)
                                     .object());
            return;
        }
        if (!r.outcome.succeeded()) reportFailureReason(run_.console, r, true);
        char line[600];
        std::snprintf(line, sizeof line,
                      "UNIT %s %s: %s, exit %d, %.1f s, image %d records sha256 %s, "
                      "kestrel-cli %s",
                      exitCode == 0 ? "PASS" : "FAIL", port.c_str(), result, exitCode,
                      durationMs / 1000.0, static_cast<int>(run_.image.records), run_.image.sha256,
                      KESTREL_VERSION);
        run_.console.outLine(line);
    }

    void stationEnded(int passed, int failed) override {
        if (run_.mode == OutputMode::Json) {
            run_.console.outLine(jsonEvent("station-end", nullptr)
                                     .add("passed", passed)
                                     .add("failed", failed)
                                     .add("exit_code", failed == 0 ? 0 : 1)
                                     .object());
            return;
        }
        run_.console.freezeBoard();
        char line[100];
        std::snprintf(line, sizeof line, "station: %d passed, %d failed", passed, failed);
        run_.console.outLine(line);
    }

  private:
    const RunContext& run_;
    SessionLauncher& launcher_;
};

void stopStation(void* loop) {
    static_cast<StationLoop*>(loop)->requestStop();
}

}  // namespace

int runStation(const RunContext& run) {
    SystemError why;
    const std::unique_ptr<PortWatcher> watcher = createPortWatcher(run.options.station, &why);
    if (watcher == nullptr) {
        char reason[2 * kReasonPathCapacity];
        describeSystemError(why, reason, sizeof reason);
        run.console.errLine(std::string("kestrel-cli: --station: ") + reason);
        return 2;
    }
    const std::unique_ptr<IdentityLookup> identities = createPlatformIdentityLookup();
    SessionLauncher launcher(run);
    StationPrinter printer(run, launcher);
    TrackerOptions tracking;
    tracking.includePresent = run.options.includePresent;
    tracking.quietMs = run.options.quietTimeMs;
    StationLoop loop(*watcher, *identities, launcher, printer, systemClock(), tracking);
    launcher.setLoop(&loop);
    // From here a stop signal also stops the loop; the sessions see it through run.stop.
    installStopSignals(run.stop, stopStation, &loop);
    // Said once the watch is set up, so a reader knows that modules plugged in from now on
    // are seen.
    if (run.mode == OutputMode::Json) {
        run.console.outLine(jsonEvent("station-begin", nullptr)
                                .add("pattern", run.options.station)
                                .add("version", KESTREL_VERSION)
                                .add("include_present", run.options.includePresent)
                                .add("quiet_ms", run.options.quietTimeMs)
                                .object());
    } else {
        run.console.errLine("kestrel-cli: station watching " + run.options.station +
                            " (Ctrl-C ends it)");
    }
    StationTotals totals;
    const bool watched = loop.run(&totals, &why);
    // The loop goes with this function: nothing may wake it any more.
    installStopSignals(run.stop, nullptr, nullptr);
    launcher.waitAll();
    launcher.setLoop(nullptr);
    if (!watched) {
        char reason[2 * kReasonPathCapacity];
        describeSystemError(why, reason, sizeof reason);
        run.console.errLine(std::string("kestrel-cli: station: ") + reason);
        return 1;
    }
    return totals.exitCode();
}

}  // namespace kestrel
