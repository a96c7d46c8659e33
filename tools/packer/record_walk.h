// Walks an image's records (one length byte, then that many payload bytes) to check that
// the last one ends exactly at the end of the image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::tools {

struct RecordWalk {
    size_t records = 0;       // whole records from the start
    bool endsExactly = true;  // false: the record at `cutOffset` runs past the end
    size_t cutOffset = 0;     // offset of that record's length byte
    size_t cutLength = 0;     // the payload length it announces
    size_t cutPresent = 0;    // payload bytes actually present
};

RecordWalk walkRecords(const uint8_t* image, size_t size);

}  // namespace kestrel::tools
