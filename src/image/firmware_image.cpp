#include "image/firmware_image.h"

#include <cstdio>

#include "platform/own_file.h"
#include "platform/temp_block.h"

namespace kestrel {

namespace {

constexpr size_t kPathCapacity = 260;

struct ImageState {
    ReadOnlyFile file;
    // Set only once the marker was found: after a failed openImage the file may still be
    // open (closeImage releases it), but its bytes are no image and must not be read.
    bool found = false;
    uint32_t dataStart = 0;
    bool truncated = false;  // set by countRecords when the last record is cut short
};

ImageState g_image;

enum class RecordResult { Whole, End, Cut, Error };

RecordResult readOneRecord(uint8_t* payload, uint8_t* length) {
    uint8_t n = 0;
    uint32_t got = 0;
    if (!g_image.file.read(&n, 1, &got)) return RecordResult::Error;
    if (got == 0) return RecordResult::End;
    if (!g_image.file.read(payload, n, &got)) return RecordResult::Error;
    if (got != n) {
        // Only the numbers are formatted: the format text is our own constant.
        std::printf("Warning: unexpected end of file detected %d / %d.\n", static_cast<int>(got),
                    static_cast<int>(n));
        std::fflush(stdout);
        return RecordResult::Cut;
    }
    *length = n;
    return RecordResult::Whole;
}

// Offset behind the first complete marker in `block`, or 0 when there is none. One pass:
// `expected` is the marker byte due next; a mismatching 0x00 may begin a new marker.
uint32_t findDataStart(const uint8_t* block, uint32_t size) {
    unsigned expected = 0;
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t b = block[i];
        if (b == expected) {
            if (expected == 0xFF) return i + 1;
            ++expected;
        } else {
            expected = (b == 0x00) ? 1 : 0;
        }
    }
    return 0;
}

bool imageOpen() {
    return g_image.found && g_image.file.isOpen();
}

}  // namespace

int openImage(const char* /*firmwareName: the image is always the program's own*/) {
    g_image.truncated = false;
    g_image.found = false;
    char path[kPathCapacity];
    if (!ownProgramPath(path, sizeof path)) return 0;
    if (!g_image.file.open(path)) return 0;

    // Released on every way out; nothing of it is kept.
    TempBlock block(kImageSearchLength);
    if (!block.data()) return 0;
    uint32_t got = 0;
    if (!g_image.file.read(block.data(), kImageSearchLength, &got) || got != kImageSearchLength)
        return 0;
    const uint32_t start = findDataStart(block.data(), kImageSearchLength);
    if (start == 0) return 0;
    if (!g_image.file.seek(start)) return 0;
    g_image.dataStart = start;
    g_image.found = true;
    return 1;
}

int readRecord(uint8_t* payload, uint8_t* length) {
    if (!imageOpen()) return 0;
    return readOneRecord(payload, length) == RecordResult::Whole ? 1 : 0;
}

int32_t countRecords() {
    if (!imageOpen()) return 0;
    uint32_t saved = 0;
    if (!g_image.file.tell(&saved) || !g_image.file.seek(g_image.dataStart)) return 0;
    uint8_t payload[kMaxRecordPayload];
    uint8_t length = 0;
    int32_t count = 0;
    RecordResult r;
    while ((r = readOneRecord(payload, &length)) == RecordResult::Whole)
        ++count;
    g_image.truncated = (r == RecordResult::Cut || r == RecordResult::Error);
    g_image.file.seek(saved);
    return count;
}

bool imageIsTruncated() {
    return g_image.truncated;
}

void closeImage() {
    g_image.found = false;
    g_image.file.close();
}

}  // namespace kestrel
