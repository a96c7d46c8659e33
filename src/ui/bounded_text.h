// Texts between the window, the settings store and the port lookups: at most 259 bytes of
// the locale's 8-bit text and a NUL, as every buffer of the update logic holds them.
#pragma once

#include <cstring>

#include "session/session_settings.h"

namespace kestrel {

// Copies `src` (null counts as empty) into `dst`, cut at 259 bytes. The window library is
// shared and does not link the session library, so it carries this copy of its own.
inline void copyBounded(char (&dst)[kTextCapacity], const char* src) {
    const size_t n = src ? strnlen(src, kTextCapacity - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace kestrel
