// Keeps other programs of the host off the module's port while a session runs. On Linux
// desktops ModemManager probes every new serial port with AT commands of its own: one probe
// in the middle of a transfer corrupts it, and the port that returns after the download
// command is a new port to probe.
#pragma once

#include <memory>

namespace kestrel {

class PortGuard {
  public:
    virtual ~PortGuard() = default;
    // Asks the host to leave the port the operator named `portName` alone until release().
    // Never fails the session: where nobody needs asking, or asking is refused, it goes on
    // (and says so once, on standard error, where the operator can do something about it).
    virtual void guard(const char* portName) = 0;
    // Lets the host have the port again; harmless without a guard.
    virtual void release() = 0;
};

// The platform's guard: on Linux, ModemManager's device inhibition over the system bus where
// ModemManager runs; on Windows none (nullptr).
std::unique_ptr<PortGuard> createPlatformPortGuard();

}  // namespace kestrel
