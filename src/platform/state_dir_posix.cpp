#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/state_dir.h"

namespace kestrel {

bool makeStateFolder(const char* path, SystemError* why) {
    std::string part;
    for (const char* p = path;; ++p) {
        if (p != path && (*p == '/' || *p == '\0')) {
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                why->set(errno, part.c_str());
                return false;
            }
        }
        if (*p == '\0') return true;
        part.push_back(*p);
    }
}

bool stateDirectoryPath(char* out, size_t capacity, SystemError* why) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // A relative $XDG_STATE_HOME is invalid and to be ignored.
    const bool fromState = state != nullptr && state[0] == '/';
    const char* base = fromState ? state : home;
    if (base == nullptr || base[0] != '/') {
        why->set(0, nullptr, "neither XDG_STATE_HOME nor HOME names a folder");
        return false;
    }
    const int n = std::snprintf(out, capacity, "%s%s", base,
                                fromState ? "/kestrel" : "/.local/state/kestrel");
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        why->set(ENAMETOOLONG, base);
        return false;
    }
    return true;
}

bool stateDirectory(char* out, size_t capacity, SystemError* why) {
    return stateDirectoryPath(out, capacity, why) && makeStateFolder(out, why);
}

char pathSeparator() {
    return '/';
}

std::FILE* openOutputFile(const char* path, bool mustBeNew, SystemError* why) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mustBeNew ? O_EXCL : O_TRUNC);
    const int fd = ::open(path, flags, 0600);
    if (fd < 0) {
        why->set(errno, path);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "w");
    if (f == nullptr) {
        why->set(errno, path);
        ::close(fd);
    }
    return f;
}

bool fileAlreadyExisted(const SystemError& error) {
    return error.code == EEXIST;
}

bool listFiles(const char* folder, const char* prefix, const char* suffix,
               std::vector<FolderFile>* files, SystemError* why) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        why->set(errno, folder);
        return false;
    }
    const size_t prefixLength = std::strlen(prefix);
    const size_t suffixLength = std::strlen(suffix);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        const size_t length = std::strlen(name);
        if (length < prefixLength + suffixLength || std::strncmp(name, prefix, prefixLength) != 0 ||
            std::strcmp(name + length - suffixLength, suffix) != 0)
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        files->push_back(
            {name, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    ::closedir(dir);
    return true;
}

bool removeFile(const char* path, SystemError* why) {
    if (::unlink(path) == 0) return true;
    why->set(errno, path);
    return false;
}

void localTimeStamp(char* out, size_t capacity) {
    const time_t now = ::time(nullptr);
    struct tm local;
    if (capacity == 0) return;
    if (::localtime_r(&now, &local) == nullptr ||
        ::strftime(out, capacity, "%Y%m%d-%H%M%S", &local) == 0)
        std::snprintf(out, capacity, "%s", "00000000-000000");
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace kestrel
