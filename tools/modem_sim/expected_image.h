// The records the simulated loader expects, read from an image file or from a program with
// an image appended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::sim {

// Reads `path`. A file holding the image marker within its first 100000 bytes is a packed
// program: the records are what follows the marker's first occurrence, as the tool's reader
// finds them. Any other file must be records back to back. Each record is stored whole,
// length byte first. False, with `error` set, when the file cannot be read or its records
// do not end exactly at its end.
bool loadExpectedRecords(const char* path, std::vector<std::vector<uint8_t>>* records,
                         std::string* error);

}  // namespace kestrel::sim
