#include "serial/port_guard.h"

namespace kestrel {

// Built where libsystemd is missing (modem_manager_guard_posix.cpp is the guard with it):
// nothing is asked of the host, and the udev rule is the only way to keep ModemManager off.
std::unique_ptr<PortGuard> createPlatformPortGuard() {
    return nullptr;
}

}  // namespace kestrel
