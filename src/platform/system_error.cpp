#include "platform/system_error.h"

#include <cstdio>
#include <cstring>

namespace kestrel {

void SystemError::set(int systemCode, const char* concerning, const char* ownWords) {
    code = systemCode;
    what = ownWords;
    path[0] = '\0';
    if (concerning != nullptr) std::snprintf(path, sizeof path, "%s", concerning);
}

void describeSystemError(const SystemError& error, char* out, size_t capacity) {
    if (capacity == 0) return;
    out[0] = '\0';
    if (!error.known()) return;
    char message[200];
    if (error.code != 0)
        systemErrorText(error.code, message, sizeof message);
    else
        std::snprintf(message, sizeof message, "%s", error.what);
    if (error.path[0] != '\0')
        std::snprintf(out, capacity, "%s: %s", error.path, message);
    else
        std::snprintf(out, capacity, "%s", message);
}

}  // namespace kestrel
