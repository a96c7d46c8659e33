// Which appearing port is a new unit to flash. A module's port comes and goes during its own
// update and again when it restarts afterwards; only a module that has not been updated yet
// may start an update. Pure bookkeeping: ports, identities and times come from the caller.
//
// A port is known by keys: its name, its USB place and its USB serial number (the last two
// where the system tells them). A port sharing a key with a running unit belongs to it. A
// finished unit is remembered by its serial number for good; one without a serial number by
// its names and place, each until it has been gone for the quiet time. A port there at the
// start is left alone until it goes, unless the present ports are included.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "station/port_identity.h"

namespace kestrel {

struct TrackerOptions {
    bool includePresent = false;
    uint32_t quietMs = 10000;
};

class UnitTracker {
  public:
    explicit UnitTracker(TrackerOptions options) : options_(options) {}

    // The ports there are at the start, each with its identity; returns those that begin a
    // unit (all of them with includePresent, one per module).
    std::vector<std::string> start(const std::vector<std::string>& ports,
                                   const std::vector<PortIdentity>& identities, uint32_t nowMs);

    // `port` appeared; true when it begins a unit, which then counts as running.
    bool appeared(const std::string& port, const PortIdentity& identity, uint32_t nowMs);
    void gone(const std::string& port, uint32_t nowMs);
    // The unit begun on `port` has ended, however it went.
    void ended(const std::string& port, uint32_t nowMs);

    size_t running() const { return units_.size(); }

  private:
    using Keys = std::set<std::string>;
    enum class Hold { kForGood, kUntilQuiet, kUntilGone };
    struct Memory {
        Hold hold = Hold::kUntilQuiet;
        bool gone = false;  // no present port has the key
        uint32_t goneSinceMs = 0;
    };

    static Keys keysOf(const std::string& port, const PortIdentity& identity);
    bool isPresent(const std::string& key) const;
    bool remembered(const Keys& keys, uint32_t nowMs);
    void remember(const Keys& keys, Hold hold, uint32_t nowMs);

    TrackerOptions options_;
    std::map<std::string, Keys> present_;   // present port -> its keys
    std::map<std::string, Keys> units_;     // running unit's first port -> keys of its ports
    std::map<std::string, Memory> memory_;  // key -> how a finished unit is remembered by it
};

}  // namespace kestrel
