#include "serial_posix/pty.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel::test {

Pty::Pty() {
    // O_CLOEXEC: a master inherited by a forked child would hide the hang-up.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        closeMaster();
        return;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    closeMaster();
}

void Pty::closeMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

bool Pty::send(const uint8_t* bytes, size_t count, int timeoutMs) {
    const double start = wallMs();
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(master_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const int left = timeoutMs - static_cast<int>(wallMs() - start);
        if (left <= 0) return false;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, left);
    }
    return true;
}

size_t Pty::receive(uint8_t* out, size_t want, int timeoutMs) {
    const double start = wallMs();
    size_t got = 0;
    while (got < want) {
        const ssize_t n = read(master_, out + got, want - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        const int left = timeoutMs - static_cast<int>(wallMs() - start);
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return got;
}

int openDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

namespace {
double ms(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}
}  // namespace

double wallMs() {
    return ms(CLOCK_MONOTONIC);
}

double cpuMs() {
    return ms(CLOCK_PROCESS_CPUTIME_ID);
}

}  // namespace kestrel::test
