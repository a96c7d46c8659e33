#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

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

// As many links as the kernel follows in one path before it gives ELOOP.
constexpr int kMaxLinks = 40;
constexpr char kTempSuffix[] = ".tmp";

// The folder part of `path` with its slash ("dir/"), or "" for a bare name.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool writeAll(FileOps& ops, int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ops.write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here loses no data, so it is not reported.
void syncDirectoryOf(const std::string& path) {
    const std::string dir = folderOf(path);
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The process id in a name "<base>.<pid>.tmp", or 0 when the name is not of that form.
pid_t tempFileOwner(const char* name, const std::string& base) {
    const size_t length = std::strlen(name);
    const size_t suffix = sizeof kTempSuffix - 1;
    if (length <= base.size() + 1 + suffix ||
        base.compare(0, base.size(), name, base.size()) != 0 || name[base.size()] != '.' ||
        std::strcmp(name + length - suffix, kTempSuffix) != 0)
        return 0;
    long pid = 0;
    for (size_t i = base.size() + 1; i < length - suffix; ++i) {
        if (name[i] < '0' || name[i] > '9' || pid > 99999999) return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return static_cast<pid_t>(pid);
}

// A save killed half-way leaves its temporary file behind; once its process is gone nobody
// will finish or remove it, and each crash would add one more.
void removeStaleTempFiles(const std::string& target, FileOps& ops) {
    const std::string dir = folderOf(target);
    const std::string base = target.substr(dir.size());
    DIR* folder = ::opendir(dir.empty() ? "." : dir.c_str());
    if (folder == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        const pid_t owner = tempFileOwner(entry->d_name, base);
        // Only a process that does not exist is gone: EPERM means it runs as another user.
        if (owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            stale.push_back(dir + entry->d_name);
    }
    ::closedir(folder);
    for (const std::string& path : stale)
        ops.unlink(path.c_str());
}

}  // namespace

bool replacementTarget(const std::string& path, std::string* target) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            *target = current;  // a file still to be made (a dangling link's target, too)
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), link, sizeof link);
        if (n < 0) return false;
        if (n == 0 || static_cast<size_t>(n) >= sizeof link) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string to(link, static_cast<size_t>(n));
        current = to[0] == '/' ? to : folderOf(current) + to;
    }
    errno = ELOOP;
    return false;
}

bool replaceFileAtomically(const std::string& path, const std::string& content, FileOps& ops) {
    std::string target;
    if (!replacementTarget(path, &target)) return false;
    removeStaleTempFiles(target, ops);

    // The new file keeps the old one's permissions; a first one gets the usual 0666 less umask.
    struct stat old;
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0666;

    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%ld%s", static_cast<long>(::getpid()), kTempSuffix);
    const std::string temp = target + suffix;
    int fd = ops.createNew(temp.c_str(), mode);
    if (fd < 0 && errno == EEXIST) {  // left behind by a crash of a process with our id
        ops.unlink(temp.c_str());
        fd = ops.createNew(temp.c_str(), mode);
    }
    if (fd < 0) return false;

    bool written = writeAll(ops, fd, content) && ops.sync(fd) == 0;
    int error = written ? 0 : errno;
    if (ops.close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ops.rename(temp.c_str(), target.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ops.unlink(temp.c_str());
        errno = error;
        return false;
    }
    syncDirectoryOf(target);
    return true;
}

}  // namespace kestrel
