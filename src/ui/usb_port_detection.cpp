#include "ui/usb_port_detection.h"

#include "ui/bounded_text.h"

#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";  // the four characters \\.\ of
constexpr size_t kDevicePrefixLength = 4;    // the device namespace

}  // namespace

FixedUsbPortLookups::FixedUsbPortLookups(const char* attachedTo, const char* address,
                                         size_t addressSize)
    : hasAttachedTo_(attachedTo != nullptr), hasAddress_(address != nullptr) {
    if (attachedTo) copyBounded(attachedTo_, attachedTo);
    if (address) {
        const size_t n = addressSize ? addressSize : std::strlen(address);
        std::memcpy(address_, address, n < kTextCapacity - 1 ? n : kTextCapacity - 1);
    }
}

bool FixedUsbPortLookups::attachedTo(char (&text)[kTextCapacity]) {
    ++queries_;
    if (hasAttachedTo_) std::memcpy(text, attachedTo_, kTextCapacity);
    return hasAttachedTo_;
}

bool FixedUsbPortLookups::address(char (&text)[kTextCapacity]) {
    ++queries_;
    if (hasAddress_) std::memcpy(text, address_, kTextCapacity);
    return hasAddress_;
}

void refreshPortName(RefreshReason reason, const char* fieldText, int selectedIndex,
                     const char* selectedEntryText, char (&name)[kTextCapacity]) {
    if (reason != RefreshReason::SelectionChanged) {
        copyBounded(name, fieldText);
    } else if (selectedIndex < kNumberedPorts) {
        std::snprintf(name, sizeof name, "COM%d", selectedIndex + 1);
    } else {
        copyBounded(name, selectedEntryText);
    }
}

bool isModemUsbPort(const char* portName, UsbPortLookups& lookups) {
    if (std::strlen(portName) > kDevicePrefixLength &&
        std::strncmp(portName, kDevicePrefix, kDevicePrefixLength) == 0)
        portName += kDevicePrefixLength;

    char found[kTextCapacity];
    if (lookups.attachedTo(found) && std::strcmp(found, portName) == 0) return true;
    // Only the first of the address's texts takes part: strcmp stops at its NUL.
    return lookups.address(found) && std::strcmp(found, portName) == 0;
}

}  // namespace kestrel
