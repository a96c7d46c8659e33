// A request from a front end to stop a running session, e.g. on SIGINT or SIGTERM. A signal
// handler may call request() or escalate(): they only touch lock-free atomics.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrel {

enum class StopLevel : int {
    None = 0,
    Finish = 1,  // end the way a failure does: the block in flight settles, the hand-back runs
    AtOnce = 2,  // stop waiting, skip the hand-back; port, image and claim are still released
};

// The signal that asked; the process's exit code follows it (130, 143).
enum class StopSignal : uint8_t { Interrupt, Terminate };

class StopRequest {
  public:
    // Raises the level to at least `level`; never lowers it. The first signal to ask is kept.
    void request(StopLevel level, StopSignal by) noexcept {
        int expected = kNoSignal;
        signal_.compare_exchange_strong(expected, static_cast<int>(by));
        int now = level_.load();
        while (now < static_cast<int>(level) &&
               !level_.compare_exchange_weak(now, static_cast<int>(level))) {
        }
        if (level >= StopLevel::Finish) any_.store(true);
        if (level >= StopLevel::AtOnce) atOnce_.store(true);
    }
    // One level up: the first signal finishes, the second ends at once.
    void escalate(StopSignal by) noexcept {
        request(level() == StopLevel::None ? StopLevel::Finish : StopLevel::AtOnce, by);
    }

    StopLevel level() const noexcept { return static_cast<StopLevel>(level_.load()); }
    StopSignal askedBy() const noexcept {
        const int s = signal_.load();
        return s == kNoSignal ? StopSignal::Interrupt : static_cast<StopSignal>(s);
    }
    // Set from level Finish on, and from AtOnce on: what a serial port can watch.
    const std::atomic<bool>* anyStop() const noexcept { return &any_; }
    const std::atomic<bool>* stopAtOnce() const noexcept { return &atOnce_; }

  private:
    static constexpr int kNoSignal = -1;
    static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
                  "a signal handler may only touch lock-free atomics");
    std::atomic<int> level_{0};
    std::atomic<int> signal_{kNoSignal};
    std::atomic<bool> any_{false};
    std::atomic<bool> atOnce_{false};
};

// The exit code of a process ended by `signal`: 128 + its number, as shells report it.
constexpr int stopExitCode(StopSignal signal) {
    return signal == StopSignal::Terminate ? 143 : 130;
}

}  // namespace kestrel
