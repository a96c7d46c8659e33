#include "serial/port_locator.h"

namespace kestrel {

// A COM port keeps its number when the device returns: nothing to follow.
std::unique_ptr<PortLocator> createPlatformPortLocator() {
    return nullptr;
}

}  // namespace kestrel
