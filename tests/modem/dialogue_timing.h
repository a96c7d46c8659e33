// The waits of the dialogue with a booted simulated module (CTS 200 ms after DTR rises, the
// result 2 ms after the command line), from which the tests derive their expected times.
#pragma once

#include <cstdint>

namespace kestrel::test {

constexpr uint32_t kRestartMs = 100 + 300 + 100;  // DTR low, wait after DTR on, CTS settle
constexpr uint32_t kSwitchMs = 1500 + 400 + 500;  // settle, DTR pulse, settle
constexpr uint32_t kProbeMs = 200 + 5;            // the wait, then the drain's empty read
constexpr uint32_t kSlotMs = kSwitchMs + kProbeMs;
constexpr uint32_t kBeforeSendMs = 50;
// 50 ms before the write, the result 2 ms after it, the 50 ms settle; "OK\r\n" ends the rest.
constexpr uint32_t kAnsweredMs = kBeforeSendMs + 2 + 50;

}  // namespace kestrel::test
