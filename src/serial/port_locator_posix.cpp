#include <sys/stat.h>

#include <cstring>

#include "serial/device_name_posix.h"
#include "serial/device_tree_posix.h"
#include "serial/port_locator.h"

namespace kestrel {

namespace {

class SysfsPortLocator final : public PortLocator {
  public:
    explicit SysfsPortLocator(DeviceTree tree) : tree_(std::move(tree)) {}

    bool remember(const char* portName) override {
        place_ = UsbPlace();
        char path[272];
        struct stat st {};
        if (portName == nullptr || posixDeviceName(portName, path, sizeof path) != nullptr ||
            ::stat(path, &st) != 0 || !S_ISCHR(st.st_mode))
            return false;
        place_ = usbPlaceOf(tree_, st.st_rdev);
        original_ = path;
        return !place_.device.empty();
    }

    bool findReturned(char* path, size_t capacity) override {
        const std::string found = ttyAt(tree_, place_);
        // Under its own name the port was just tried: only another name is news.
        if (found.empty() || found == original_ || found.size() + 1 > capacity) return false;
        std::memcpy(path, found.c_str(), found.size() + 1);
        return true;
    }

  private:
    DeviceTree tree_;
    UsbPlace place_;
    std::string original_;
};

}  // namespace

std::unique_ptr<PortLocator> createPosixPortLocator(const DeviceTree& tree) {
    return std::make_unique<SysfsPortLocator>(tree);
}

std::unique_ptr<PortLocator> createPlatformPortLocator() {
    return createPosixPortLocator(hostDeviceTree());
}

}  // namespace kestrel
