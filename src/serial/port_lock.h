// A claim on one physical port for a whole update session. The session closes and re-opens
// its port on the way (the blind entry waits 5 s with the port closed, the hand-back 1 s):
// without a claim beyond the open device, a second session could take the module in a gap.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/system_error.h"

namespace kestrel {

// A stable name of the port across re-enumeration: a USB port's by-id name where it has
// one, else its device path (Win32: its COM name).
constexpr size_t kPortIdentityCapacity = 272;

class PortLock {
  public:
    virtual ~PortLock() = default;
    // Claims the port the operator named `portName` (as typed). False, with the reason in
    // `why`, when another session (in this process or another) holds it or it cannot be
    // claimed. Call only while this object holds no claim.
    virtual bool acquire(const char* portName, SystemError* why) = 0;
    // Gives the claim up; harmless without one.
    virtual void release() = 0;
    // The claimed port's stable name (valid after a successful acquire()).
    virtual const char* identity() const = 0;
};

// The platform's claim: on Linux an flock on a lock file named after the physical device
// (/run/lock, else the user's runtime directory); on Windows a named mutex per COM port.
std::unique_ptr<PortLock> createPlatformPortLock();

}  // namespace kestrel
