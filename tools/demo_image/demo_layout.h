// Record lengths of the demo firmware image. It has the layout of the image the tool ships
// with (we have no real firmware): nine head records, a body of 72-byte records and three
// tail records; every length a multiple of 8, none 0.
#pragma once

#include <cstdint>

namespace kestrel::tools {

// The record count of the image as shipped.
constexpr uint32_t kShippedRecordCount = 35987;
// Head and tail together: the smallest image with the shipped layout.
constexpr uint32_t kMinDemoRecordCount = 12;
// Keeps a mistyped count from filling the disk (about 73 MB).
constexpr uint32_t kMaxDemoRecordCount = 1000000;

// Length of record `index` in a demo image of `count` records (kMinDemoRecordCount or more).
uint8_t demoRecordLength(uint32_t index, uint32_t count);

}  // namespace kestrel::tools
