// The modem's port as Linux tells it: the first ttyACM device whose USB interface is a CDC
// ACM modem speaking AT commands, and that device's stable name under /dev/serial/by-id.
#pragma once

#include <string>

#include "ui/usb_port_detection.h"

namespace kestrel {

class SysfsUsbPortLookups : public UsbPortLookups {
  public:
    explicit SysfsUsbPortLookups(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    // devRoot/ttyACMn of the lowest such n.
    bool attachedTo(char (&text)[kTextCapacity]) override;
    // devRoot/serial/by-id/NAME, the first name (in natural order) that leads to that device.
    bool address(char (&text)[kTextCapacity]) override;

  private:
    long firstModemNumber() const;

    std::string sysRoot_, devRoot_;
};

}  // namespace kestrel
