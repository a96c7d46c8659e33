#include "serial/port_guard.h"

namespace kestrel {

// Until the ModemManager inhibition is in: nothing is asked of the host.
std::unique_ptr<PortGuard> createPlatformPortGuard() {
    return nullptr;
}

}  // namespace kestrel
