#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/state_dir.h"

namespace kestrel {

bool stateDirectoryPath(char* out, size_t capacity, SystemError* why) {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') {
        why->set(0, nullptr, "LOCALAPPDATA names no folder");
        return false;
    }
    const int n = std::snprintf(out, capacity, "%s\\kestrel", local);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        why->set(ERROR_FILENAME_EXCED_RANGE, local);
        return false;
    }
    return true;
}

bool makeStateFolder(const char* path, SystemError* why) {
    // %LOCALAPPDATA% itself is the system's: only our own folder may be missing.
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        why->set(static_cast<int>(GetLastError()), path);
        return false;
    }
    return true;
}

bool stateDirectory(char* out, size_t capacity, SystemError* why) {
    return stateDirectoryPath(out, capacity, why) && makeStateFolder(out, why);
}

char pathSeparator() {
    return '\\';
}

std::FILE* openOutputFile(const char* path, bool mustBeNew, SystemError* why) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           mustBeNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why->set(static_cast<int>(GetLastError()), path);
        return nullptr;
    }
    // The C runtime takes the handle over: fclose() closes it.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (f == nullptr) {
        why->set(0, path, "the file cannot be written through the C runtime");
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(h);
    }
    return f;
}

bool fileAlreadyExisted(const SystemError& error) {
    return error.code == ERROR_FILE_EXISTS || error.code == ERROR_ALREADY_EXISTS;
}

bool listFiles(const char* folder, const char* prefix, const char* suffix,
               std::vector<FolderFile>* files, SystemError* why) {
    char pattern[MAX_PATH + 8];
    const int n = std::snprintf(pattern, sizeof pattern, "%s\\%s*%s", folder, prefix, suffix);
    if (n < 0 || static_cast<size_t>(n) >= sizeof pattern) {
        why->set(ERROR_FILENAME_EXCED_RANGE, folder);
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern, &found);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
        why->set(static_cast<int>(GetLastError()), folder);
        return false;
    }
    const size_t suffixLength = std::strlen(suffix);
    do {
        // The pattern also matches short 8.3 names: check the long one again.
        const size_t length = std::strlen(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || length < suffixLength ||
            std::strncmp(found.cFileName, prefix, std::strlen(prefix)) != 0 ||
            std::strcmp(found.cFileName + length - suffixLength, suffix) != 0)
            continue;
        const int64_t modified =
            (static_cast<int64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
            found.ftLastWriteTime.dwLowDateTime;
        files->push_back({found.cFileName, modified});
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return true;
}

bool removeFile(const char* path, SystemError* why) {
    if (DeleteFileA(path)) return true;
    why->set(static_cast<int>(GetLastError()), path);
    return false;
}

void localTimeStamp(char* out, size_t capacity) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::snprintf(out, capacity, "%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
}

unsigned long currentProcessId() {
    return GetCurrentProcessId();
}

}  // namespace kestrel
