// Finds a USB port that came back under another name. After the download command the
// module's loader re-enumerates on USB; the port often returns under another name (the old
// node still held, or its number taken), or even with another product id. What stays is the
// physical place: the USB device it hangs off and the interface number.
#pragma once

#include <cstddef>
#include <memory>

namespace kestrel {

class PortLocator {
  public:
    virtual ~PortLocator() = default;
    // Notes where the port the operator named `portName` sits now. False when it is on no
    // USB device that can be found (then nothing will be found later either).
    virtual bool remember(const char* portName) = 0;
    // A port at the remembered place now, whatever its name, into `path` (NUL-terminated).
    // False when there is none, or it does not fit into `capacity` bytes.
    virtual bool findReturned(char* path, size_t capacity) = 0;
};

// The platform's locator: the sysfs tree on Linux; none (nullptr) on Windows.
std::unique_ptr<PortLocator> createPlatformPortLocator();

}  // namespace kestrel
