#include "station/station_loop.h"

#include <vector>

namespace kestrel {

namespace {

// The longest a wait lasts: a wake that never comes only delays the loop, never stalls it.
constexpr uint32_t kLongestWaitMs = 1000;

}  // namespace

bool StationLoop::run(StationTotals* totals, SystemError* why) {
    *totals = StationTotals();
    std::vector<PortIdentity> identities;
    for (const std::string& port : watcher_.present())
        identities.push_back(identities_.identityOf(port));
    for (const std::string& port : tracker_.start(watcher_.present(), identities, clock_.nowMs()))
        launch(port);

    bool watching = true;
    std::vector<PortEvent> events;
    while (!stop_.load() && watching) {
        events.clear();
        watching = watcher_.wait(kLongestWaitMs, &events, why);
        collectEnded(totals);
        for (const PortEvent& e : events) {
            if (e.kind == PortEvent::kGone)
                tracker_.gone(e.port, clock_.nowMs());
            else if (!stop_.load())
                consider(e.port);
        }
    }
    launcher_.waitAll();
    collectEnded(totals);
    report_.stationEnded(totals->passed, totals->failed);
    return watching;
}

void StationLoop::consider(const std::string& port) {
    // Looked up before the update starts: its port may be gone a moment later.
    if (tracker_.appeared(port, identities_.identityOf(port), clock_.nowMs())) launch(port);
}

void StationLoop::launch(const std::string& port) {
    startedMs_[port] = clock_.nowMs();
    report_.unitStarted(port);
    launcher_.launch(port);
}

void StationLoop::collectEnded(StationTotals* totals) {
    std::string port;
    int exitCode = 0;
    while (launcher_.takeEnded(&port, &exitCode)) {
        const uint32_t now = clock_.nowMs();
        const auto started = startedMs_.find(port);
        const uint32_t durationMs = started != startedMs_.end() ? now - started->second : 0;
        if (started != startedMs_.end()) startedMs_.erase(started);
        tracker_.ended(port, now);
        ++(exitCode == 0 ? totals->passed : totals->failed);
        report_.unitEnded(port, exitCode, durationMs);
    }
}

}  // namespace kestrel
