// installed_image_check PROGRAM: reads the image behind PROGRAM with the tool's own image
// reader, as that program would read it behind itself, and prints "records=N read=M".
// Exit 0 when the image was found and read whole, 1 otherwise, 2 on wrong usage.
#include <cstdio>

#include "image/firmware_image.h"
#include "platform/own_file.h"

int main(int argc, char** argv) {
    using namespace kestrel;
    if (argc != 2) {
        std::fprintf(stderr, "usage: installed_image_check PROGRAM\n");
        return 2;
    }
    overrideOwnProgramPath(argv[1]);
    if (!openImage("")) {
        std::printf("no image found\n");
        closeImage();
        return 1;
    }
    const int32_t count = countRecords();
    uint8_t payload[kMaxRecordPayload];
    uint8_t length = 0;
    int read = 0;
    while (readRecord(payload, &length))
        ++read;
    closeImage();
    std::printf("records=%d read=%d\n", static_cast<int>(count), read);
    return count > 0 && count == read && !imageIsTruncated() ? 0 : 1;
}
