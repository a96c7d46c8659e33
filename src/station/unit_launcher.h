// What the station asks of the front end that runs updates: start one per unit, and say
// when each has ended. The front end calls StationLoop::wake() when an update ends.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

class UnitLauncher {
  public:
    virtual ~UnitLauncher() = default;
    // Starts an update of the module on `port` on a thread of its own; returns at once.
    virtual void launch(const std::string& port) = 0;
    // One update that has ended, if any, with the port it was launched on (never blocks).
    virtual bool takeEnded(std::string* port, int* exitCode) = 0;
    // Waits for every running update to end.
    virtual void waitAll() = 0;
};

// Where the station's records go; the front end prints them as text or JSON.
class StationReport {
  public:
    virtual ~StationReport() = default;
    virtual void unitStarted(const std::string& port) = 0;
    virtual void unitEnded(const std::string& port, int exitCode, uint32_t durationMs) = 0;
    virtual void stationEnded(int passed, int failed) = 0;
};

}  // namespace kestrel
