#include <sched.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace kestrel {

namespace {

class PosixClock final : public Clock {
  public:
    uint32_t nowMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        // Truncation to 32 bits is the wrap the callers are written for.
        return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                     static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
    }

    void sleepMs(uint32_t ms) override {
        if (ms == 0) {
            sched_yield();
            return;
        }
        timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
        timespec rem{};
        while (nanosleep(&req, &rem) != 0 && errno == EINTR)
            req = rem;
    }
};

}  // namespace

Clock& systemClock() {
    static PosixClock instance;
    return instance;
}

}  // namespace kestrel
