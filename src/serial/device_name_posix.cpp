#include "serial/device_name_posix.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace kestrel {

namespace {

constexpr char kWin32Prefix[] = "\\\\.\\";  // the four characters \\.\ .
constexpr size_t kWin32PrefixLen = sizeof kWin32Prefix - 1;

// The n of "COM<n>" when `name` is exactly that with n >= 1; 0 otherwise. Numbers too
// large for any real port are no COM name either.
unsigned long comPortNumber(const char* name) {
    if (strncasecmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
    unsigned long n = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        n = n * 10u + static_cast<unsigned long>(*p - '0');
        if (n > 1000000u) return 0;
    }
    return n;
}

bool fits(int written, size_t capacity) {
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

}  // namespace

bool posixDeviceName(const char* name, char* out, size_t capacity) {
    if (name == nullptr || out == nullptr || capacity == 0) return false;
    // A name saved by the Windows build, or normalised by the session, carries the prefix.
    while (strncmp(name, kWin32Prefix, kWin32PrefixLen) == 0)
        name += kWin32PrefixLen;
    if (name[0] == '\0') return false;

    if (const unsigned long n = comPortNumber(name))
        return fits(snprintf(out, capacity, "/dev/ttyS%lu", n - 1u), capacity);
    if (strchr(name, '/') == nullptr)
        return fits(snprintf(out, capacity, "/dev/%s", name), capacity);
    return fits(snprintf(out, capacity, "%s", name), capacity);
}

}  // namespace kestrel
