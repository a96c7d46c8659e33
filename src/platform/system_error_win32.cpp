#include <windows.h>

#include <cstdio>

#include "platform/system_error.h"

namespace kestrel {

int lastSystemErrorCode() {
    return static_cast<int>(GetLastError());
}

void systemErrorText(int code, char* out, size_t capacity) {
    if (capacity == 0) return;
    out[0] = '\0';
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, out, static_cast<DWORD>(capacity), nullptr);
    // The system's texts end in a line break; a status line must not.
    DWORD end = n;
    while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' '))
        --end;
    if (end < capacity) out[end] = '\0';
    if (end == 0) std::snprintf(out, capacity, "system error %d", code);
}

}  // namespace kestrel
