// Real time until a test hands it a virtual clock: for tests that open a real device in real
// time and then time the driver's waits virtually.
#pragma once

#include "platform/clock.h"

namespace kestrel::test {

class SwitchableClock final : public Clock {
  public:
    uint32_t nowMs() override { return to->nowMs(); }
    void sleepMs(uint32_t ms) override { to->sleepMs(ms); }
    Clock* to = &systemClock();
};

}  // namespace kestrel::test
