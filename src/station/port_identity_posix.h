// The Linux identity lookup over a device tree of the caller's choosing (tests build one).
#pragma once

#include "serial/device_tree_posix.h"
#include "station/port_identity.h"

namespace kestrel {

std::unique_ptr<IdentityLookup> createPosixIdentityLookup(const DeviceTree& tree);

}  // namespace kestrel
