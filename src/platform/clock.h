// The one seam through which the update logic reads time and waits.
//
// The millisecond tick is an unsigned 32-bit counter that wraps every 49.7 days; every
// timeout compares `now - start` (unsigned) with its limit, never an absolute deadline.
// Each port and session is handed the clock it waits on; tests hand in a virtual one whose
// time moves only when the code waits.
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

    // Milliseconds since `start`, correct across the wrap of the counter.
    uint32_t elapsedSince(uint32_t start) { return nowMs() - start; }
};

// The platform's own clock (CLOCK_MONOTONIC on POSIX, GetTickCount on Win32). It keeps no
// state, so every thread may share it.
Clock& systemClock();

}  // namespace kestrel
