// Who a port belongs to, beyond its name: what tells one module from another when ports come
// and go under names that change.
#pragma once

#include <memory>
#include <string>

namespace kestrel {

struct PortIdentity {
    std::string serial;  // the USB device's serial number; empty when it has none
    std::string place;   // the USB device's place on the bus (its sysfs path); empty off USB
};

class IdentityLookup {
  public:
    virtual ~IdentityLookup() = default;
    // What the system says about `port` now; empty fields for what it cannot tell.
    virtual PortIdentity identityOf(const std::string& port) = 0;
};

// The host's lookup: the device tree on Linux; nothing on Windows, where ports are known by
// their names alone.
std::unique_ptr<IdentityLookup> createPlatformIdentityLookup();

}  // namespace kestrel
