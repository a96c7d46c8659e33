// The system clock on Windows: GetTickCount and Sleep.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace kestrel {
namespace {

TEST(Win32Clock, TicksWithGetTickCount) {
    const DWORD before = GetTickCount();
    const uint32_t now = systemClock().nowMs();
    const DWORD after = GetTickCount();
    EXPECT_LE(static_cast<uint32_t>(now - before), static_cast<uint32_t>(after - before));
}

TEST(Win32Clock, SleepsWholeMilliseconds) {
    const uint32_t start = systemClock().nowMs();
    systemClock().sleepMs(40);
    // The tick counter may advance in steps of up to 16 ms on Windows.
    EXPECT_GE(systemClock().nowMs() - start, 40u - 16u);
}

TEST(Win32Clock, ASleepOfZeroOnlyYields) {
    const uint32_t start = systemClock().nowMs();
    for (int i = 0; i < 100; ++i)
        systemClock().sleepMs(0);
    EXPECT_LT(systemClock().nowMs() - start, 500u);
}

}  // namespace
}  // namespace kestrel
