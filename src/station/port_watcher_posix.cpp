// The Linux watcher: inotify on the pattern's folder. udev's /dev/serial/by-id and by-path
// folders exist only while some USB serial device is plugged in, so while the folder is
// missing the nearest existing parent is watched instead, until the folder appears (and back
// when it goes). Every change of the folder watched is followed by a fresh listing, which also
// catches the names made between the folder's appearing and its watch.
#include <errno.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <dirent.h>

#include <cstring>
#include <set>

#include "station/port_watcher.h"

namespace kestrel {

namespace {

constexpr uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kParentMask =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW;

bool failed(SystemError* why, int code, const std::string& path) {
    why->set(code, path.c_str());
    return false;
}

std::string parentOf(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    return slash == 0 ? std::string("/") : folder.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

class InotifyPortWatcher final : public PortWatcher {
  public:
    InotifyPortWatcher(std::string folder, std::string glob)
        : folder_(std::move(folder)), glob_(std::move(glob)) {}

    ~InotifyPortWatcher() override {
        if (inotify_ >= 0) ::close(inotify_);
        if (wake_ >= 0) ::close(wake_);
    }

    bool start(SystemError* why) {
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ < 0) return failed(why, errno, folder_);
        wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_ < 0) return failed(why, errno, folder_);
        std::vector<PortEvent> found;
        if (!resync(&found, why)) return false;
        for (const PortEvent& e : found)
            present_.push_back(e.port);
        return true;
    }

    const std::vector<std::string>& present() const override { return present_; }

    bool wait(uint32_t timeoutMs, std::vector<PortEvent>* events, SystemError* why) override {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int timeout = timeoutMs > 0x7fffffffu ? -1 : static_cast<int>(timeoutMs);
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) return true;  // a signal: the caller looks at why it came
            return failed(why, errno, folder_);
        }
        if (fds[1].revents != 0) {
            uint64_t count;
            (void)!::read(wake_, &count, sizeof count);
        }
        return fds[0].revents == 0 || readEvents(events, why);
    }

    void wake() override {
        const uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);  // async-signal-safe
    }

  private:
    bool readEvents(std::vector<PortEvent>* events, SystemError* why) {
        alignas(inotify_event) char buffer[4096];
        bool folderChanged = false;
        for (;;) {
            const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            if (n <= 0) return failed(why, n < 0 ? errno : EIO, folder_);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                const char* name = e->len > 0 ? e->name : "";
                if ((e->mask & IN_Q_OVERFLOW) != 0) {
                    folderChanged = true;  // events were lost: only a listing can tell
                } else if (e->wd != watch_) {
                    continue;  // left over from a folder no longer watched
                } else if ((e->mask & kFolderGone) != 0 || watched_ != folder_) {
                    // While on a parent, only the next folder on the way down matters.
                    folderChanged = folderChanged || (e->mask & kFolderGone) != 0 ||
                                    std::strcmp(name, nextFolderName().c_str()) == 0;
                } else if (::fnmatch(glob_.c_str(), name, FNM_PERIOD) == 0) {
                    note(name, (e->mask & (IN_CREATE | IN_MOVED_TO)) != 0, events);
                }
            }
        }
        return !folderChanged || resync(events, why);
    }

    void note(const std::string& name, bool appeared, std::vector<PortEvent>* events) {
        if (appeared ? known_.insert(name).second : known_.erase(name) > 0)
            events->push_back(
                {appeared ? PortEvent::kAppeared : PortEvent::kGone, joined(folder_, name)});
    }

    // The name of the folder below `watched_` on the way to `folder_`.
    std::string nextFolderName() const {
        const size_t from = watched_ == "/" ? 1 : watched_.size() + 1;
        const size_t end = folder_.find('/', from);
        return folder_.substr(from, end == std::string::npos ? std::string::npos : end - from);
    }

    // Watches the folder, or its nearest existing parent, and reports what differs from
    // what was known.
    bool resync(std::vector<PortEvent>* events, SystemError* why) {
        if (watch_ >= 0) inotify_rm_watch(inotify_, watch_);
        watch_ = -1;
        for (std::string dir = folder_;; dir = parentOf(dir)) {
            watch_ = inotify_add_watch(inotify_, dir.c_str(),
                                       dir == folder_ ? kFolderMask : kParentMask);
            if (watch_ >= 0) {
                watched_ = dir;
                break;
            }
            // Missing, or a file where a folder should be: wait further up.
            if ((errno != ENOENT && errno != ENOTDIR) || dir == "/") return failed(why, errno, dir);
        }
        std::set<std::string> now;
        if (watched_ == folder_) {
            // A folder gone again since its watch leaves nothing listed; its IN_IGNORED follows.
            if (DIR* d = opendir(folder_.c_str())) {
                while (const dirent* e = readdir(d))
                    if (::fnmatch(glob_.c_str(), e->d_name, FNM_PERIOD) == 0) now.insert(e->d_name);
                closedir(d);
            }
        }
        const std::set<std::string> before = known_;
        for (const std::string& name : before)
            if (now.count(name) == 0) note(name, false, events);
        for (const std::string& name : now)
            note(name, true, events);
        return true;
    }

    const std::string folder_, glob_;
    int inotify_ = -1;
    int wake_ = -1;
    int watch_ = -1;
    std::string watched_;
    std::set<std::string> known_;  // names in `folder_` matching `glob_`
    std::vector<std::string> present_;
};

bool hasWildcard(const std::string& text) {
    return text.find_first_of("*?[") != std::string::npos;
}

}  // namespace

std::unique_ptr<PortWatcher> createPortWatcher(const std::string& pattern, SystemError* why) {
    if (pattern.empty() || pattern[0] != '/') {
        why->set(0, pattern.c_str(), "the pattern must be an absolute path");
        return nullptr;
    }
    std::string path;  // the pattern with each run of slashes made one
    for (char c : pattern)
        if (c != '/' || path.empty() || path.back() != '/') path += c;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const std::string glob = path.substr(slash + 1);
    if (glob.empty()) {
        why->set(0, pattern.c_str(), "the pattern names no port after its last '/'");
        return nullptr;
    }
    if (hasWildcard(folder)) {
        why->set(0, pattern.c_str(), "only the pattern's last part may hold wildcards");
        return nullptr;
    }
    auto watcher = std::make_unique<InotifyPortWatcher>(folder, glob);
    if (!watcher->start(why)) return nullptr;
    return watcher;
}

}  // namespace kestrel
