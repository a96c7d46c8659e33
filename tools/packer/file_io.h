// Whole-file reads and all-or-nothing writes for the image tools (POSIX build hosts).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::tools {

// Reads the whole file. False (errno set) when it cannot be opened or read.
bool readWholeFile(const char* path, std::vector<uint8_t>* out);

struct ByteSpan {
    const uint8_t* data;
    size_t size;
};

// Writes the pieces one after the other into a temporary file beside `path`, gives it the
// permission bits `mode`, and renames it to `path`. On any failure the temporary file is
// removed and `path` is left as it was. False (errno set) on failure.
bool writeFileAtomically(const char* path, const std::vector<ByteSpan>& pieces, mode_t mode);

}  // namespace kestrel::tools
