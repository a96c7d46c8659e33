#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "ui/atomic_file.h"

namespace kestrel {

int FileOps::createNew(const char* path, mode_t mode) {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
ssize_t FileOps::write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
int FileOps::sync(int fd) {
    return ::fsync(fd);
}
int FileOps::close(int fd) {
    return ::close(fd);
}
int FileOps::rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int FileOps::unlink(const char* path) {
    return ::unlink(path);
}

FileOps& systemFileOps() {
    static FileOps ops;
    return ops;
}

namespace {

bool writeAll(FileOps& ops, int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ops.write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here loses no data, so it is not reported.
void syncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool replaceFileAtomically(const std::string& path, const std::string& content, FileOps& ops) {
    // The new file keeps the old one's permissions; a first one gets the usual 0666 less umask.
    struct stat old;
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0666;

    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%ld.tmp", static_cast<long>(::getpid()));
    const std::string temp = path + suffix;
    int fd = ops.createNew(temp.c_str(), mode);
    if (fd < 0 && errno == EEXIST) {  // left behind by a crash of a process with our id
        ops.unlink(temp.c_str());
        fd = ops.createNew(temp.c_str(), mode);
    }
    if (fd < 0) return false;

    bool written = writeAll(ops, fd, content) && ops.sync(fd) == 0;
    written = ops.close(fd) == 0 && written;
    if (!written || ops.rename(temp.c_str(), path.c_str()) != 0) {
        ops.unlink(temp.c_str());
        return false;
    }
    syncDirectoryOf(path);
    return true;
}

}  // namespace kestrel
