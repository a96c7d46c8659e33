#include "win32/registry_text.h"

#include <cstring>

namespace kestrel {

bool queryRegistryText(HKEY key, const char* name, char (&text)[kTextCapacity]) {
    char data[kTextCapacity];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return false;
    // The data need not end in a NUL (a value of another type, or a string stored without
    // one), so the text is cut at the data's end, and at 259 characters at the latest.
    size_t n = 0;
    while (n < size && n < kTextCapacity - 1 && data[n] != '\0')
        ++n;
    std::memcpy(text, data, n);
    text[n] = '\0';
    return true;
}

}  // namespace kestrel
