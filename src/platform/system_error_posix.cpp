#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system_error.h"

namespace kestrel {

int lastSystemErrorCode() {
    return errno;
}

void systemErrorText(int code, char* out, size_t capacity) {
    if (capacity == 0) return;
    // The GNU strerror_r may return a static text instead of filling the buffer.
    char buffer[200];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    std::snprintf(out, capacity, "%s", text);
}

}  // namespace kestrel
