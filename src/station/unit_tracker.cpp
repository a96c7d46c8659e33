#include "station/unit_tracker.h"

#include <algorithm>

namespace kestrel {

namespace {

bool isSerial(const std::string& key) {
    return key.compare(0, 2, "s:") == 0;
}

}  // namespace

UnitTracker::Keys UnitTracker::keysOf(const std::string& port, const PortIdentity& identity) {
    Keys keys{"n:" + port};
    if (!identity.serial.empty()) keys.insert("s:" + identity.serial);
    if (!identity.place.empty()) keys.insert("p:" + identity.place);
    return keys;
}

bool UnitTracker::isPresent(const std::string& key) const {
    return std::any_of(present_.begin(), present_.end(),
                       [&](const auto& port) { return port.second.count(key) > 0; });
}

std::vector<std::string> UnitTracker::start(const std::vector<std::string>& ports,
                                            const std::vector<PortIdentity>& identities,
                                            uint32_t nowMs) {
    std::vector<std::string> units;
    for (size_t i = 0; i < ports.size(); ++i) {
        const PortIdentity identity = i < identities.size() ? identities[i] : PortIdentity();
        if (options_.includePresent) {
            if (appeared(ports[i], identity, nowMs)) units.push_back(ports[i]);
            continue;
        }
        const Keys keys = keysOf(ports[i], identity);
        present_[ports[i]] = keys;
        remember(keys, Hold::kUntilGone, nowMs);
    }
    return units;
}

bool UnitTracker::appeared(const std::string& port, const PortIdentity& identity, uint32_t nowMs) {
    const Keys keys = keysOf(port, identity);
    present_[port] = keys;
    for (auto& unit : units_) {
        if (std::any_of(keys.begin(), keys.end(),
                        [&](const std::string& key) { return unit.second.count(key) > 0; })) {
            unit.second.insert(keys.begin(), keys.end());  // the unit's port back, maybe renamed
            return false;
        }
    }
    if (remembered(keys, nowMs)) return false;
    units_[port] = keys;
    return true;
}

// Whether `keys` belong to a module already seen. A remembered key seen again counts as
// present again: its quiet time starts anew when it next goes.
bool UnitTracker::remembered(const Keys& keys, uint32_t nowMs) {
    bool held = false;
    for (const std::string& key : keys) {
        const auto it = memory_.find(key);
        if (it == memory_.end()) continue;
        Memory& m = it->second;
        if (m.hold == Hold::kForGood || !m.gone ||
            (m.hold == Hold::kUntilQuiet && nowMs - m.goneSinceMs < options_.quietMs)) {
            held = true;
            m.gone = false;
        } else {
            memory_.erase(it);
        }
    }
    return held;
}

void UnitTracker::remember(const Keys& keys, Hold hold, uint32_t nowMs) {
    for (const std::string& key : keys) {
        // Serial numbers are remembered for good and only so; names and places for a while.
        if ((hold == Hold::kForGood) != isSerial(key)) continue;
        memory_[key] = Memory{hold, !isPresent(key), nowMs};
    }
}

void UnitTracker::gone(const std::string& port, uint32_t nowMs) {
    const auto it = present_.find(port);
    if (it == present_.end()) return;
    const Keys keys = it->second;
    present_.erase(it);
    for (const std::string& key : keys) {
        const auto m = memory_.find(key);
        if (m == memory_.end() || m->second.gone || isPresent(key)) continue;
        if (m->second.hold == Hold::kUntilGone) {
            memory_.erase(m);
        } else {
            m->second.gone = true;
            m->second.goneSinceMs = nowMs;
        }
    }
}

void UnitTracker::ended(const std::string& port, uint32_t nowMs) {
    const auto it = units_.find(port);
    if (it == units_.end()) return;
    const Keys keys = it->second;
    units_.erase(it);
    const bool hasSerial = std::any_of(keys.begin(), keys.end(), isSerial);
    remember(keys, hasSerial ? Hold::kForGood : Hold::kUntilQuiet, nowMs);
}

}  // namespace kestrel
