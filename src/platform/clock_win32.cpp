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

}  // namespace

Clock& systemClock() {
    static Win32Clock instance;
    return instance;
}

}  // namespace kestrel
