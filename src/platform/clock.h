// The one seam through which the update logic reads time and waits.
//
// The millisecond tick is an unsigned 32-bit counter that wraps every 49.7 days; every
// timeout compares `now - start` (unsigned) with its limit, never an absolute deadline.
// Tests install a virtual clock whose time moves only when the code waits.
#pragma once

#include <cstdint>

namespace kestrel {

class Clock {
  public:
    virtual ~Clock() = default;
    // Current millisecond tick.
    virtual uint32_t nowMs() = 0;
    // Blocks for `ms` whole milliseconds; 0 only yields the processor.
    virtual void sleepMs(uint32_t ms) = 0;
};

// The clock every wait of the program goes through (the system clock unless replaced).
Clock& clock();

// Replaces the clock; nullptr restores the system clock. Not thread-safe: set it before
// any session starts.
void setClock(Clock* replacement);

// The platform's own clock (CLOCK_MONOTONIC on POSIX, GetTickCount on Win32).
Clock& systemClock();

inline uint32_t nowMs() {
    return clock().nowMs();
}
inline void sleepMs(uint32_t ms) {
    clock().sleepMs(ms);
}
// Milliseconds since `start`, correct across the wrap of the counter.
inline uint32_t elapsedSince(uint32_t start) {
    return clock().nowMs() - start;
}

}  // namespace kestrel
