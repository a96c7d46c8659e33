// A clock whose time moves only when the code under test waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/clock.h"

namespace kestrel::test {

class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(uint32_t startMs = 1000) : now_(startMs), start_(startMs) {}

    uint32_t nowMs() override { return now_; }

    void sleepMs(uint32_t ms) override {
        if (ms == 0) {
            // A yield: fine, but code that only ever yields would hang a real machine.
            if (++yieldsInARow_ > kMaxYieldsInARow) {
                ADD_FAILURE() << "busy loop: " << kMaxYieldsInARow
                              << " yields without time passing";
                now_ += 1000;  // break out instead of hanging the test run
                yieldsInARow_ = 0;
            }
            return;
        }
        advance(ms);
    }

    void advance(uint32_t ms) {
        now_ += ms;
        yieldsInARow_ = 0;
    }

    // Milliseconds since the clock was made (wrap-safe).
    uint32_t elapsed() const { return now_ - start_; }
    uint32_t start() const { return start_; }

  private:
    static constexpr int kMaxYieldsInARow = 100000;
    uint32_t now_;
    uint32_t start_;
    int yieldsInARow_ = 0;
};

}  // namespace kestrel::test
