#include "serial/port_guard.h"

namespace kestrel {

// Windows has no service that probes serial ports behind the operator's back.
std::unique_ptr<PortGuard> createPlatformPortGuard() {
    return nullptr;
}

}  // namespace kestrel
