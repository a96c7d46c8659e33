#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/own_file.h"

namespace kestrel {

bool ownProgramPath(char* buf, size_t capacity) {
    if (capacity == 0) return false;
    // readlink does not terminate and truncates silently: a full buffer means "too long".
    ssize_t n = readlink("/proc/self/exe", buf, capacity);
    if (n <= 0 || static_cast<size_t>(n) >= capacity) return false;
    buf[n] = '\0';
    return true;
}

bool ReadOnlyFile::open(const char* path) {
    close();
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    handle_ = fd;
    return true;
}

bool ReadOnlyFile::read(void* buf, uint32_t count, uint32_t* got) {
    *got = 0;
    if (!isOpen()) return false;
    auto* out = static_cast<unsigned char*>(buf);
    // A plain file may still deliver fewer bytes than asked; keep going until the end.
    while (*got < count) {
        ssize_t n = ::read(static_cast<int>(handle_), out + *got, count - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        *got += static_cast<uint32_t>(n);
    }
    return true;
}

bool ReadOnlyFile::seek(uint32_t position) {
    if (!isOpen()) return false;
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

void ReadOnlyFile::close() {
    if (!isOpen()) return;
    ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

}  // namespace kestrel
