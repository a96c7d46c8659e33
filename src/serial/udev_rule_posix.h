// The udev rule that keeps ModemManager off one USB device for good: what a user without a
// working inhibition (no system bus, or ModemManager refusing) can put in place instead.
#pragma once

#include <sys/types.h>

#include <string>

#include "serial/device_tree_posix.h"

namespace kestrel {

// The rule line for the USB device behind the character device `device`, with its vendor and
// product ids as sysfs gives them; "VVVV" and "PPPP" stand in where they cannot be read (not
// on USB, or the tree unreadable).
std::string modemManagerIgnoreRule(const DeviceTree& tree, dev_t device);

}  // namespace kestrel
