#include "station/port_identity_posix.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

class SysfsIdentityLookup final : public IdentityLookup {
  public:
    explicit SysfsIdentityLookup(DeviceTree tree) : tree_(std::move(tree)) {}

    PortIdentity identityOf(const std::string& port) override {
        PortIdentity id;
        struct stat st {};
        if (::stat(port.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return id;
        // The whole USB device, not the interface: one module is one unit, whichever of its
        // interfaces the pattern matches.
        id.place = usbPlaceOf(tree_, st.st_rdev).device;
        if (!id.place.empty()) id.serial = firstLineOf(id.place + "/serial");
        return id;
    }

  private:
    DeviceTree tree_;
};

}  // namespace

std::unique_ptr<IdentityLookup> createPosixIdentityLookup(const DeviceTree& tree) {
    return std::make_unique<SysfsIdentityLookup>(tree);
}

std::unique_ptr<IdentityLookup> createPlatformIdentityLookup() {
    return createPosixIdentityLookup(hostDeviceTree());
}

}  // namespace kestrel
