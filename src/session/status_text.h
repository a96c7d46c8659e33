// Status texts with numbers in them, formatted into a bounded buffer. The format is always
// one of our own constant texts; nothing received or typed is ever used as a format.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "session/session_settings.h"
#include "session/status_reporter.h"

namespace kestrel {

#if defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KESTREL_PRINTF_FORMAT(fmt, args)
#endif

// Formats and shows one status text (cut at 259 characters).
inline void reportf(StatusReporter& reporter, const char* format, ...) KESTREL_PRINTF_FORMAT(2, 3);

inline void reportf(StatusReporter& reporter, const char* format, ...) {
    char text[kTextCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    reporter.setStatus(text);
}

}  // namespace kestrel
