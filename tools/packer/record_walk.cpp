#include "packer/record_walk.h"

namespace kestrel::tools {

RecordWalk walkRecords(const uint8_t* image, size_t size) {
    RecordWalk walk;
    size_t at = 0;
    while (at < size) {
        const size_t length = image[at];
        const size_t remaining = size - at - 1;
        if (length > remaining) {
            walk.endsExactly = false;
            walk.cutOffset = at;
            walk.cutLength = length;
            walk.cutPresent = remaining;
            return walk;
        }
        at += 1 + length;
        ++walk.records;
    }
    return walk;
}

}  // namespace kestrel::tools
