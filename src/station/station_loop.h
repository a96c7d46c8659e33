// The station: waits for modules to be plugged in, starts an update on each new one, reports
// each as it ends, until a stop is asked for; then it starts nothing more, waits for the
// updates still running and reports the totals.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "platform/clock.h"
#include "platform/system_error.h"
#include "station/port_identity.h"
#include "station/port_watcher.h"
#include "station/unit_launcher.h"
#include "station/unit_tracker.h"

namespace kestrel {

struct StationTotals {
    int passed = 0;
    int failed = 0;
    // A station's own exit code: 0 when every unit passed, else 1.
    int exitCode() const { return failed == 0 ? 0 : 1; }
};

class StationLoop {
  public:
    StationLoop(PortWatcher& watcher, IdentityLookup& identities, UnitLauncher& launcher,
                StationReport& report, Clock& clock, TrackerOptions options)
        : watcher_(watcher),
          identities_(identities),
          launcher_(launcher),
          report_(report),
          clock_(clock),
          tracker_(options) {}

    // Runs until requestStop(). False when watching failed (`why` says how); the updates
    // already running are waited for and reported either way.
    bool run(StationTotals* totals, SystemError* why);

    // Both may be called from any thread, and on Linux from a signal handler.
    void requestStop() {
        stop_.store(true);
        watcher_.wake();
    }
    void wake() { watcher_.wake(); }

  private:
    void consider(const std::string& port);
    void launch(const std::string& port);
    void collectEnded(StationTotals* totals);

    PortWatcher& watcher_;
    IdentityLookup& identities_;
    UnitLauncher& launcher_;
    StationReport& report_;
    Clock& clock_;
    UnitTracker tracker_;
    std::atomic<bool> stop_{false};
    std::map<std::string, uint32_t> startedMs_;  // running unit's port -> when it began
};

}  // namespace kestrel
