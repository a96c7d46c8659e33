// Reads the image appended to this very program, found through the real path of its own
// file, and prints what the packing test checks: the record count, how many records were
// read, and the length of record 4.
#include <cstdio>

#include "image/firmware_image.h"

int main() {
    using namespace kestrel;
    if (!openImage("")) {
        std::printf("no image found\n");
        closeImage();
        return 1;
    }
    const int32_t count = countRecords();
    uint8_t payload[kMaxRecordPayload];
    uint8_t length = 0;
    int read = 0;
    int lengthOfRecord4 = -1;
    while (readRecord(payload, &length)) {
        if (read == 4) lengthOfRecord4 = length;
        ++read;
    }
    closeImage();
    std::printf("records=%d read=%d record4=%d\n", static_cast<int>(count), read, lengthOfRecord4);
    return count == read && !imageIsTruncated() ? 0 : 1;
}
