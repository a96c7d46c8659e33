#include <windows.h>

#include <cstring>

#include "platform/own_file.h"

namespace kestrel {

namespace {

HANDLE handleOf(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace

bool ownProgramPath(char* buf, size_t capacity) {
    if (capacity == 0) return false;
    // The path of our own module. A full buffer means the path was cut (and, on older
    // systems, left without its NUL): that is no path at all.
    const DWORD size = capacity > MAX_PATH ? MAX_PATH : static_cast<DWORD>(capacity);
    const DWORD n = GetModuleFileNameA(nullptr, buf, size);
    if (n == 0 || n >= size) return false;
    buf[n] = '\0';
    return true;
}

bool ReadOnlyFile::open(const char* path) {
    close();
    // Others may read the file while we do (the program file is running, after all).
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool ReadOnlyFile::read(void* buf, uint32_t count, uint32_t* got) {
    *got = 0;
    if (!isOpen()) return false;
    // On a disk file one ReadFile delivers everything up to the end of the file.
    DWORD n = 0;
    if (!ReadFile(handleOf(handle_), buf, count, &n, nullptr)) return false;
    *got = n;
    return true;
}

bool ReadOnlyFile::seek(uint32_t position) {
    if (!isOpen()) return false;
    // Without the high part the distance is a signed 32-bit number: 2 GB is far beyond any
    // image (the data start lies within the first 100000 bytes).
    if (position > 0x7FFFFFFFu) return false;
    return SetFilePointer(handleOf(handle_), static_cast<LONG>(position), nullptr, FILE_BEGIN) !=
           INVALID_SET_FILE_POINTER;
}

void ReadOnlyFile::close() {
    if (!isOpen()) return;
    CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

}  // namespace kestrel
