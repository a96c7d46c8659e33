// A small sysfs of the simulator's own, as the kernel shows a USB modem's tty: the tool finds
// the port's USB device and interface in it (read through KESTREL_SYSFS_ROOT), and the port
// itself in the tree's dev folder (KESTREL_DEV_ROOT). Layout under the root:
//
//   sys/devices/pci0000:00/0000:00:14.0/usbB/                 busnum, devnum
//       .../usbB/B-P/                                         busnum, devnum (new each time),
//                                                             idVendor, idProduct, [serial]
//       .../usbB/B-P/B-P:1.0/                                 bInterfaceNumber 00,
//                                                             driver -> bus/usb/drivers/cdc_acm
//       .../usbB/B-P/B-P:1.0/tty/NAME/                        dev (MAJ:MIN), device -> ../..
//   sys/class/tty/NAME -> ../../devices/.../tty/NAME
//   sys/dev/char/MAJ:MIN -> ../../devices/.../tty/NAME
//   dev/NAME -> the pty's slave (made by PtyPort)
//
// The device numbers are the pty's own, so the tool's stat() of dev/NAME leads here. Several
// simulators may share one root: each adds its own bus and ttys and removes only those.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrel::sim {

class UsbDeviceTree {
  public:
    UsbDeviceTree() = default;
    ~UsbDeviceTree() { removeTty(); }
    UsbDeviceTree(const UsbDeviceTree&) = delete;
    UsbDeviceTree& operator=(const UsbDeviceTree&) = delete;

    // Makes the tree's folders under `root` (keeping what is there) and the root hub of bus
    // `bus`. The USB device gets `serial` as its serial number unless it is empty. False with
    // `error` set on failure.
    bool create(const std::string& root, int bus, const std::string& serial, std::string* error);
    // Publishes the tty `name` with device number `device` on USB device B-`usbPort`,
    // interface 0 (a USB device re-enumerated: a new devnum). One tty at a time: the one
    // published before is removed first.
    bool addTty(const std::string& name, dev_t device, int usbPort, std::string* error);
    // Removes the tty with its USB device, as when the device leaves the bus. Harmless when
    // none is published.
    void removeTty();

    std::string sysRoot() const { return root_ + "/sys"; }
    std::string devRoot() const { return root_ + "/dev"; }

  private:
    std::string root_;
    std::string serial_;
    std::string hub_;        // devices/.../usbB, relative to sys/
    std::string usbDevice_;  // the published tty's USB device folder, relative to sys/
    std::string classLink_;  // sys/class/tty/NAME
    std::string charLink_;   // sys/dev/char/MAJ:MIN
    int bus_ = 0;
    int nextDevnum_ = 2;  // the hub is 1
};

}  // namespace kestrel::sim
