// Blocks per second of a running transfer, as a progress display shows it: measured from
// the bar's first real move (the first one jumps), over stretches of at least half a
// second, smoothed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace kestrel {

class BlockRate {
  public:
    void restart() { *this = BlockRate(); }
    // The position the session reported at `nowMs`.
    void note(int32_t position, uint32_t nowMs) {
        if (!sampling_ && last_ > 0 && position > last_) {
            sampling_ = true;
            sampleMs_ = nowMs;
            samplePosition_ = position;
        } else if (sampling_ && nowMs - sampleMs_ >= kSampleMs) {
            const double rate = (position - samplePosition_) * 1000.0 / (nowMs - sampleMs_);
            perSecond_ = perSecond_ > 0 ? 0.7 * perSecond_ + 0.3 * rate : rate;
            sampleMs_ = nowMs;
            samplePosition_ = position;
        }
        last_ = position;
    }
    // 0 while not known yet.
    double perSecond() const { return perSecond_; }

  private:
    static constexpr uint32_t kSampleMs = 500;
    bool sampling_ = false;
    uint32_t sampleMs_ = 0;
    int32_t samplePosition_ = 0;
    int32_t last_ = 0;
    double perSecond_ = 0;
};

// What the blocks after `position` take at `perSecond` (> 0): "m:ss", or "h:mm:ss" from an
// hour on.
inline void formatTimeLeft(char* out, size_t capacity, int32_t position, int32_t maximum,
                           double perSecond) {
    const auto seconds = static_cast<uint32_t>((maximum - position) / perSecond + 0.5);
    if (seconds >= 3600)
        std::snprintf(out, capacity, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(out, capacity, "%u:%02u", seconds / 60, seconds % 60);
}

}  // namespace kestrel
