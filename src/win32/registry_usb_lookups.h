// The two registry places that name the port of the system's first modem device.
#pragma once

#include "ui/usb_port_detection.h"

namespace kestrel {

extern const char kModemClassInstanceKey[];
extern const char kUnimodemKey[];

class RegistryUsbPortLookups final : public UsbPortLookups {
  public:
    // AttachedTo of the modem class's instance 0000 in control set 001.
    bool attachedTo(char (&text)[kTextCapacity]) override;
    // Address of the Unimodem telephony devices (a list; the caller uses the first text).
    bool address(char (&text)[kTextCapacity]) override;
};

}  // namespace kestrel
