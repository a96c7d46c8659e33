// The udev rule that keeps ModemManager off one USB device for good: what a user without a
// working inhibition (no system bus, or ModemManager refusing) can put in place instead.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "serial/device_tree_posix.h"

namespace kestrel {

// Room for the rule line with its ids.
constexpr size_t kUdevRuleCapacity = 96;

// Writes the rule line for the USB device behind the character device `device` into `out`,
// with the vendor and product ids as sysfs gives them; "VVVV" and "PPPP" stand in where they
// cannot be read (not on USB, or the tree unreadable).
void modemManagerIgnoreRule(const DeviceTree& tree, dev_t device, char (&out)[kUdevRuleCapacity]);

}  // namespace kestrel
