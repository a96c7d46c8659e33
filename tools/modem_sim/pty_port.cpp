#include "modem_sim/pty_port.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/termios2_posix.h"

namespace kestrel::sim {

namespace {

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// mkdir -p for the folder part of `path`.
bool makeParents(const std::string& path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string dir = path.substr(0, at);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

PtyPort::PtyPort() {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

PtyPort::~PtyPort() {
    takeDown();
    if (inotify_ >= 0) close(inotify_);
    for (int fd : retired_)
        close(fd);
}

bool PtyPort::bringUp(const std::string& link, std::string* error,
                      const std::function<bool(std::string* error)>& beforeLink) {
    takeDown();
    if (inotify_ < 0) {
        *error = errnoText("inotify_init1");
        return false;
    }
    // O_CLOEXEC: a child holding a copy of the master would hide the tool's hang-ups.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0) {
        *error = errnoText("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    struct stat st {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0 || stat(name, &st) != 0) {
        *error = errnoText("preparing the pty");
        takeDown();
        return false;
    }
    slavePath_ = name;
    device_ = st.st_rdev;
    opens_ = 0;
    // Raw from the start: a slave in cooked mode would echo our bytes back to us before the
    // tool has set its own line settings.
    termios t{};
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    watch_ = inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE);
    if (watch_ < 0) {
        *error = errnoText("inotify_add_watch");
        takeDown();
        return false;
    }
    if (beforeLink && !beforeLink(error)) {
        takeDown();
        return false;
    }
    // A hidden temporary name, as udev's: a watcher of the folder's ports never takes it for
    // one.
    const size_t slash = link.rfind('/');
    const std::string temp =
        link.substr(0, slash + 1) + ".#" + link.substr(slash + 1) + "." + std::to_string(getpid());
    unlink(temp.c_str());
    if (!makeParents(link) || symlink(name, temp.c_str()) != 0 ||
        rename(temp.c_str(), link.c_str()) != 0) {
        *error = errnoText("linking " + link);
        unlink(temp.c_str());
        takeDown();
        return false;
    }
    link_ = link;
    return true;
}

void PtyPort::takeDown() {
    if (!link_.empty()) {
        char target[PATH_MAX];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            if (slavePath_ == target) unlink(link_.c_str());
        }
        link_.clear();
    }
    if (watch_ >= 0) inotify_rm_watch(inotify_, watch_);
    watch_ = -1;
    if (master_ >= 0) {
        // A pty's number is free again only once both ends are closed: keep one slave end
        // (opened unwatched, so no open is counted), hung up like the tool's.
        constexpr size_t kRetiredKept = 8;
        const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave >= 0) retired_.push_back(slave);
        if (retired_.size() > kRetiredKept) {
            close(retired_.front());
            retired_.pop_front();
        }
        close(master_);
    }
    master_ = -1;
    opens_ = 0;
    device_ = 0;
    slavePath_.clear();
    // Events of the old node still queued must not count for the next one.
    drainEvents([](bool) {});
}

void PtyPort::drainEvents(const std::function<void(bool opened)>& changed) {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(inotify_, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->wd != watch_ || watch_ < 0) continue;
            if ((e->mask & IN_OPEN) != 0 && opens_++ == 0) changed(true);
            if ((e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && opens_ > 0 && --opens_ == 0)
                changed(false);
        }
    }
}

bool PtyPort::slaveRate(uint32_t* rate) const {
    // TCGETS2 on the master reports the slave's settings, any rate included.
    return up() && readTermios2Rate(master_, rate);
}

}  // namespace kestrel::sim
