// Listing device names in a folder, in the order an operator expects to read them.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The entry names of `dir` (without "." and ".."), unsorted; empty when it cannot be read.
std::vector<std::string> directoryNames(const std::string& dir);

// Orders names with runs of digits compared as numbers: ttyACM2 before ttyACM10.
bool naturalLess(const std::string& a, const std::string& b);

// The number behind `prefix` in `name` (ttyACM12 gives 12), or -1 when the rest is not a
// plain decimal number.
long deviceNumber(const std::string& name, const char* prefix);

}  // namespace kestrel
