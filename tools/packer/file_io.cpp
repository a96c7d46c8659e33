#include "packer/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel::tools {

bool readWholeFile(const char* path, std::vector<uint8_t>* out) {
    out->clear();
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out->insert(out->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    const int err = errno;
    std::fclose(f);
    if (!ok) errno = err ? err : EIO;
    return ok;
}

namespace {

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const char* path, const std::vector<ByteSpan>& pieces, mode_t mode) {
    std::string temp = std::string(path) + ".tmp.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = true;
    for (const ByteSpan& piece : pieces)
        ok = ok && writeAll(fd, piece.data, piece.size);
    // fchmod is not subject to the umask, so the mode is copied exactly.
    ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), path) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = err;
    }
    return ok;
}

}  // namespace kestrel::tools
