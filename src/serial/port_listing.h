// The serial ports this machine has, with what the system knows about each: for kestrel-cli's
// --list, so that an operator or a line's setup picks a port by a name that stays.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

struct SerialPortInfo {
    std::string name;  // what --port takes: "/dev/ttyACM0", "COM3"
    // "cdc-acm" (a USB modem interface), "usb-serial" (a USB serial adapter), "uart" (on the
    // board), or "serial" where the system does not tell.
    const char* kind = "serial";
    std::vector<std::string> byId, byPath;      // stable links to the port, in natural order
    int vendorId = -1, productId = -1;          // the USB device's ids, -1 off USB
    int interfaceNumber = -1;                   // the USB interface the port belongs to
    std::string serial, manufacturer, product;  // the USB device's strings, empty if none
};

// The host's ports in natural order of their names (ttyUSB2 before ttyUSB10).
std::vector<SerialPortInfo> listSerialPorts();

struct DeviceTree;
// Linux: the ports under `tree`'s sysfs and /dev (tests build trees of their own).
std::vector<SerialPortInfo> listSerialPortsIn(const DeviceTree& tree);

}  // namespace kestrel
