// The session's claim on a port on Linux: flock() on a lock file named after the physical
// device. flock conflicts between any two open file descriptions, so a second session in the
// same process is refused as surely as one in another process, and the kernel drops the
// claim when a process dies, however it dies. The file itself is left in place: removing it
// while another process may be opening it would let two sessions lock two different files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/device_name_posix.h"
#include "serial/device_tree_posix.h"
#include "serial/port_lock.h"

namespace kestrel {

namespace {

// FNV-1a: short, stable from run to run.
unsigned pathHash(const std::string& path) {
    uint32_t h = 2166136261u;
    for (unsigned char c : path)
        h = (h ^ c) * 16777619u;
    return h;
}

class PosixPortLock final : public PortLock {
  public:
    PosixPortLock(DeviceTree tree, std::vector<std::string> lockDirs)
        : tree_(std::move(tree)), lockDirs_(std::move(lockDirs)) {}
    ~PosixPortLock() override { release(); }

    bool acquire(const char* portName, SystemError* why) override {
        release();
        char path[kPortIdentityCapacity];
        if (portName == nullptr || posixDeviceName(portName, path, sizeof path) != nullptr) {
            // Not a name of ours: the open will say so, with its reason.
            identity_ = portName != nullptr ? portName : "";
            return true;
        }
        identity_ = path;
        struct stat st {};
        // Nothing to claim where there is no device yet; the open reports that.
        if (::stat(path, &st) != 0 || !S_ISCHR(st.st_mode)) return true;

        const UsbPlace usb = usbPlaceOf(tree_, st.st_rdev);
        char key[96];
        if (!usb.device.empty()) {
            // The physical USB device: its port returning under another name stays claimed.
            // Its bus position names it for people; a hash of its whole sysfs path keeps a
            // device tree read from elsewhere (tests, containers) from meeting the host's.
            std::snprintf(key, sizeof key, "kestrel-usb-%s-%08x.lock",
                          usb.device.substr(usb.device.rfind('/') + 1).c_str(),
                          pathHash(usb.device));
            const std::string byId = byIdNameOf(tree_, st.st_rdev);
            if (!byId.empty()) identity_ = byId;
        } else {
            // Every name of one device is one device number.
            std::snprintf(key, sizeof key, "kestrel-dev-%u-%u.lock", major(st.st_rdev),
                          minor(st.st_rdev));
        }
        for (const std::string& dir : lockDirs_) {
            if (dir.empty()) continue;
            const std::string file = dir + "/" + key;
            int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
            // Another user's lock file can still be locked through a read-only descriptor.
            if (fd < 0 && errno == EACCES) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;  // this folder is not ours to use: try the next
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int error = errno;
                // Cut to the reason's room: the device's name and who holds it.
                const std::string holder = std::string(path) + " (" + holderOf(fd) + ")";
                ::close(fd);
                if (error == EWOULDBLOCK)
                    why->set(0, holder.c_str(), "in use by another update session");
                else
                    why->set(error, file.c_str());
                return false;
            }
            char pid[32];
            const int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
            if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid, static_cast<size_t>(n), 0);
            fd_ = fd;
            return true;
        }
        // No folder takes a lock file: go on unclaimed rather than refuse every update.
        return true;
    }

    void release() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    const char* identity() const override { return identity_.c_str(); }

  private:
    // "held by process N" from the pid the holder wrote, or a plain "held".
    static std::string holderOf(int fd) {
        char text[32] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
        return pid > 0 ? "held by process " + std::to_string(pid) : "held";
    }

    DeviceTree tree_;
    std::vector<std::string> lockDirs_;
    int fd_ = -1;
    std::string identity_;
};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::unique_ptr<PortLock> createPosixPortLock(const DeviceTree& tree,
                                              const std::vector<std::string>& lockDirs) {
    return std::make_unique<PosixPortLock>(tree, lockDirs);
}

std::unique_ptr<PortLock> createPlatformPortLock() {
    return createPosixPortLock(hostDeviceTree(),
                               {"/run/lock", environment("XDG_RUNTIME_DIR"), "/tmp"});
}

}  // namespace kestrel
