#include "demo_image/demo_layout.h"

namespace kestrel::tools {

namespace {
constexpr uint8_t kHeadLengths[] = {16, 24, 8, 16, 48, 24, 24, 24, 24};
constexpr uint8_t kTailLengths[] = {8, 16, 8};
constexpr uint32_t kHeadCount = sizeof kHeadLengths;
constexpr uint32_t kTailCount = sizeof kTailLengths;
constexpr uint8_t kBodyLength = 72;
static_assert(kHeadCount + kTailCount == kMinDemoRecordCount);
}  // namespace

uint8_t demoRecordLength(uint32_t index, uint32_t count) {
    if (index < kHeadCount) return kHeadLengths[index];
    if (index >= count - kTailCount) return kTailLengths[index - (count - kTailCount)];
    return kBodyLength;
}

}  // namespace kestrel::tools
