// kestrel-demo-image: writes the demo firmware image, a stand-in for real firmware.
//
//   kestrel-demo-image <output> [--records N]
//
// Without --records the image has the shipped layout: 35987 records, lengths 16, 24, 8, 16,
// 48, 24, 24, 24, 24, then 35975 of 72, then 8, 16, 8. --records N (N >= 12) keeps the nine
// head and three tail records and puts N - 12 records of 72 bytes between them, for smaller
// or larger test images. Payloads are pseudo-random bytes from a fixed seed. Exit 0 ok,
// 1 when the file cannot be written, 2 wrong usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "demo_image/demo_layout.h"
#include "demo_image/splitmix64.h"
#include "packer/file_io.h"

namespace {

using namespace kestrel::tools;

constexpr uint64_t kSeed = 0x4B65737472656C31ull;  // fixed: the image never changes

int usage() {
    std::fprintf(stderr,
                 "usage: kestrel-demo-image <output> [--records N]\n"
                 "Writes the demo firmware image: %u records by default; N (%u to %u) keeps\n"
                 "the 9 head and 3 tail records and puts N - 12 records of 72 bytes between.\n",
                 kShippedRecordCount, kMinDemoRecordCount, kMaxDemoRecordCount);
    return 2;
}

bool parseCount(const char* text, uint32_t* count) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    if (value < kMinDemoRecordCount || value > kMaxDemoRecordCount) return false;
    *count = static_cast<uint32_t>(value);
    return true;
}

std::vector<uint8_t> makeImage(uint32_t count) {
    std::vector<uint8_t> image;
    SplitMix64 random(kSeed);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t length = demoRecordLength(i, count);
        image.push_back(length);
        // Lengths are multiples of 8: each record takes whole 64-bit draws, low byte first.
        for (uint8_t k = 0; k < length; k = static_cast<uint8_t>(k + 8)) {
            uint64_t word = random.next();
            for (int b = 0; b < 8; ++b, word >>= 8)
                image.push_back(static_cast<uint8_t>(word));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = kShippedRecordCount;
    if (argc == 4 && std::strcmp(argv[2], "--records") == 0) {
        if (!parseCount(argv[3], &count)) return usage();
    } else if (argc != 2) {
        return usage();
    }
    const char* outputPath = argv[1];
    const std::vector<uint8_t> image = makeImage(count);
    const std::vector<ByteSpan> pieces = {{image.data(), image.size()}};
    if (!writeFileAtomically(outputPath, pieces, 0644)) {
        std::fprintf(stderr, "kestrel-demo-image: cannot write '%s': %s\n", outputPath,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
