// What the session remembers across a crash: after "AT+IPR=" moved the module to the
// operator's rate, a kill or a power cut would leave it there, and the next session would
// take the moved rate for the module's own. The journal keeps the module's original rate
// until the hand-back has restored it.
#pragma once

#include <cstdint>
#include <memory>

namespace kestrel {

struct RateJournalEntry {
    int32_t originalRate = -1;
    int32_t movedRate = -1;
    int64_t savedAt = 0;  // seconds since the epoch
};

class RateJournal {
  public:
    enum class Load { None, Found, Damaged };

    virtual ~RateJournal() = default;
    // The entry kept for the port named `portIdentity` (a stable name, see PortLock).
    virtual Load load(const char* portIdentity, RateJournalEntry* entry) = 0;
    // Keeps `entry` for the port, replacing what was kept; durable when it returns true.
    virtual bool save(const char* portIdentity, const RateJournalEntry& entry) = 0;
    // Forgets the port's entry; harmless without one.
    virtual void remove(const char* portIdentity) = 0;
    // The wall clock, in seconds since the epoch.
    virtual int64_t nowSeconds() = 0;
};

// Files under the user's state directory ($XDG_STATE_HOME/kestrel, else
// ~/.local/state/kestrel) on Linux; none (nullptr) on Windows.
std::unique_ptr<RateJournal> createPlatformRateJournal();

}  // namespace kestrel
