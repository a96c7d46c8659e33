#include "packer/image_marker.h"

namespace kestrel::tools {

namespace {
// Read at run time: with a known start and a known count, GCC unrolls the loop into sixteen
// contiguous 16-byte constants, which together are the marker.
volatile uint8_t g_markerFirstByte = 0;
volatile size_t g_markerLength = kMarkerLength;
}  // namespace

void makeImageMarker(uint8_t* out) {
    const size_t length = g_markerLength;
    uint8_t value = g_markerFirstByte;
    for (size_t i = 0; i < length && i < kMarkerLength; ++i)
        out[i] = value++;
}

size_t findImageMarker(const uint8_t* data, size_t size) {
    unsigned expected = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == expected) {
            if (expected == 0xFF) return i + 1 - kMarkerLength;
            ++expected;
        } else {
            expected = (data[i] == 0x00) ? 1 : 0;
        }
    }
    return size;
}

}  // namespace kestrel::tools
