// What the host's device tree says about a serial device: its USB device, its interface and
// its by-id name. Read under a sysfs and a /dev root of the caller's choosing, so that tests
// and containers can point at a tree of their own.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrel {

struct DeviceTree {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

struct UsbPlace {
    std::string device;  // the USB device's sysfs path (".../usb1/1-2"), empty when none
    int interfaceNumber = -1;
};

// The USB device and interface behind the character device `device`; an empty `device`
// when it is not on USB or the tree cannot be read.
UsbPlace usbPlaceOf(const DeviceTree& tree, dev_t device);

// The /dev/serial/by-id link that names `device`, or empty.
std::string byIdNameOf(const DeviceTree& tree, dev_t device);

// The tty at `place` (same USB device, same interface) as a path under the tree's /dev, or
// empty when there is none.
std::string ttyAt(const DeviceTree& tree, const UsbPlace& place);

// The first line of a small file such as a sysfs attribute or /proc/PID/comm, without its
// line end (at most 259 characters); empty when it cannot be read.
std::string firstLineOf(const std::string& path);

// The host's tree: /sys and /dev, unless KESTREL_SYSFS_ROOT or KESTREL_DEV_ROOT name other
// folders (read-only, for tests and containers).
DeviceTree hostDeviceTree();

class PortLock;
class PortLocator;

// The Linux locator over `tree`.
std::unique_ptr<PortLocator> createPosixPortLocator(const DeviceTree& tree);

// The Linux port claim with lock files in the first of `lockDirs` that takes one (tests pass
// folders of their own).
std::unique_ptr<PortLock> createPosixPortLock(const DeviceTree& tree,
                                              const std::vector<std::string>& lockDirs);

}  // namespace kestrel
