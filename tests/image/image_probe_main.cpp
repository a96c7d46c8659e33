// image_probe [PROGRAM]: reads the image appended to this very program (found through the
// real path of its own file) or, given PROGRAM, the one behind that program, with the tool's
// own reader. Prints the record count, how many records were read and the length of record 4;
// exit 0 when an image was found and read whole. Used by the packing and the install tests.
#include <cstdio>

#include "image/firmware_image.h"
#include "platform/own_file.h"

int main(int argc, char** argv) {
    using namespace kestrel;
    char own[kReasonPathCapacity] = {};
    if (argc == 1 && !ownProgramPath(own, sizeof own)) return 1;
    FirmwareImage image(argc > 1 ? argv[1] : own);
    if (!image.openImage("")) {
        std::printf("no image found\n");
        return 1;
    }
    const int32_t count = image.countRecords();
    uint8_t payload[kMaxRecordPayload];
    uint8_t length = 0;
    int read = 0;
    int lengthOfRecord4 = -1;
    while (image.readRecord(payload, &length)) {
        if (read == 4) lengthOfRecord4 = length;
        ++read;
    }
    image.closeImage();
    std::printf("records=%d read=%d record4=%d\n", static_cast<int>(count), read, lengthOfRecord4);
    return count > 0 && count == read && !image.imageIsTruncated() ? 0 : 1;
}
