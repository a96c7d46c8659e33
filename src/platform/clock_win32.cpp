#include <windows.h>

#include "platform/clock.h"

namespace kestrel {

namespace {

class Win32Clock final : public Clock {
  public:
    // GetTickCount is the 32-bit millisecond counter the timeouts are written for: it wraps
    // after 49.7 days, and every wait compares differences.
    uint32_t nowMs() override { return GetTickCount(); }

    // Sleep(0) gives up the rest of the time slice, which is what a wait of 0 means.
    void sleepMs(uint32_t ms) override { Sleep(ms); }
};

// At namespace scope: a function-local static would need a thread-safe guard, and that
// drags the runtime's threading and exception support into the small program.
Win32Clock g_systemClock;

}  // namespace

Clock& systemClock() {
    return g_systemClock;
}

}  // namespace kestrel
