// The 256-byte image marker (the values 0x00..0xFF ascending) that separates a program from
// its appended firmware image.
//
// No program of ours may hold the marker as data: the reader takes its first occurrence as
// the marker. So it is made at run time from a start value and a count the compiler cannot
// see, which keeps the optimiser from turning the loop into a 256-byte constant table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::tools {

constexpr size_t kMarkerLength = 256;
// The marker's last byte must lie within this many bytes from the start of the file.
constexpr size_t kMarkerSearchLength = 100000;
// The longest program that still leaves room for the marker within the search length.
constexpr size_t kMaxProgramLength = kMarkerSearchLength - kMarkerLength;

// Writes the marker into `out` (room for kMarkerLength bytes).
void makeImageMarker(uint8_t* out);

// Offset of the first occurrence of the marker in `data`, or `size` when there is none.
// One pass, the same restart rule as the image reader: a mismatching 0x00 may begin a marker.
size_t findImageMarker(const uint8_t* data, size_t size);

}  // namespace kestrel::tools
