#include "serial/com_port_name.h"

#include <cstring>

namespace kestrel {

namespace {

// The device-namespace prefix, the four characters \\.\ .
constexpr char kPrefix[] = "\\\\.\\";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

bool copyPrefixed(bool prefixed, const char* name, char* out) {
    const size_t prefix = prefixed ? kPrefixLength : 0;
    const size_t n = std::strlen(name);
    if (prefix + n + 1 > kComPathCapacity) return false;
    std::memcpy(out, kPrefix, prefix);
    std::memcpy(out + prefix, name, n + 1);
    return true;
}

}  // namespace

bool comPortPaths(const char* name, char* first, char* second) {
    if (name == nullptr) return false;
    const bool comAbove9 = std::strlen(name) > 4 && std::strncmp(name, "COM", 3) == 0;
    return copyPrefixed(comAbove9, name, first) && copyPrefixed(true, first, second);
}

}  // namespace kestrel
