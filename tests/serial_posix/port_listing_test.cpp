// kestrel-cli --list on a device tree built like the kernel's: each kind of port told apart,
// the ports the kernel makes for UARTs that are not there left out, text and JSON Lines.
#include <algorithm>
#include <cstdio>

#include "cli/list_command.h"
#include "serial/device_tree_posix.h"
#include "serial/port_listing.h"
#include "serial_posix/posix_tree.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// One tty as sysfs shows it: its device's folder under sys/devices (a modem's is its USB
// interface, an adapter's a port device below the interface), the driver bound there, its
// char numbers and its type ("" for a tty without one).
// The device is "" for a tty without one; byId and byPath are link names under
// /dev/serial/by-id and by-path, "" for none.
struct TtySpec {
    const char *name, *device, *driver, *dev, *type, *byId, *byPath;
};

#define USB1 "pci0000:00/0000:00:14.0/usb1/"
const TtySpec kMachine[] = {
    {"ttyACM0", USB1 "1-2/1-2:1.0", "usb/drivers/cdc_acm", "166:0", "",
     "usb-Maker_Module_0123456789-if00", "pci-0000:00:14.0-usb-0:2:1.0"},
    // Two ports of one dual adapter: the usb-serial driver puts a port device below each
    // interface; listed as 2 before 10.
    {"ttyUSB10", USB1 "1-3/1-3:1.1/ttyUSB10", "usb-serial/drivers/ftdi_sio", "188:10", "",
     "usb-FTDI_Dual_RS232_FT4ZQ1AB-if01-port0", ""},
    {"ttyUSB2", USB1 "1-3/1-3:1.0/ttyUSB2", "usb-serial/drivers/ftdi_sio", "188:2", "",
     "usb-FTDI_Dual_RS232_FT4ZQ1AB-if00-port0", "pci-0000:00:14.0-usb-0:3:1.0-port0"},
    {"ttyS0", "pnp0/00:04/00:04:0/00:04:0.0", "serial-base/drivers/port", "4:64", "4", "", ""},
    // What a PC kernel makes whatever the board has: an 8250 port with no UART behind it.
    {"ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "serial-base/drivers/port", "4:65",
     "0", "", ""},
    {"tty0", "", "", "4:0", "", "", ""},  // a virtual console
};

struct PortListing : testing::Test, test::TempTree {
    DeviceTree tree{root + "/sys", root + "/dev"};

    void usbDevice(const std::string& at, const char* vid, const char* pid, const char* serial,
                   const char* maker, const char* product, int interfaces) {
        const std::string dir = "/sys/devices/" USB1 + at;
        for (const auto& [file, text] : {std::pair{"busnum", "1"},
                                         {"devnum", "4"},
                                         {"idVendor", vid},
                                         {"idProduct", pid},
                                         {"serial", serial},
                                         {"manufacturer", maker},
                                         {"product", product}})
            if (*text) write(dir + "/" + file, std::string(text) + "\n");
        for (int i = 0; i < interfaces; ++i)
            write(dir + "/" + at + ":1." + std::to_string(i) + "/bInterfaceNumber",
                  "0" + std::to_string(i) + "\n");
    }
    void add(const TtySpec& t) {
        const std::string device = "/sys/devices/" + std::string(t.device);
        const std::string tty = (*t.device ? device : "/sys/devices/virtual") + "/tty/" + t.name;
        write(tty + "/dev", std::string(t.dev) + "\n");
        if (*t.type) write(tty + "/type", std::string(t.type) + "\n");
        if (*t.device) {
            fs::create_directories(root + device);
            link(root + device, tty + "/device");
            fs::create_directories(root + "/sys/bus/" + t.driver);
            link(root + "/sys/bus/" + t.driver, device + "/driver");
        }
        link(root + tty, "/sys/class/tty/" + std::string(t.name));
        link(root + tty, "/sys/dev/char/" + std::string(t.dev));
        const std::string node = "/dev/" + std::string(t.name);
        write(node, "\n");
        if (*t.byId) link(root + node, "/dev/serial/by-id/" + std::string(t.byId));
        if (*t.byPath) link(root + node, "/dev/serial/by-path/" + std::string(t.byPath));
    }
    // The listing as written, with the names as they would be on the host (/dev/...).
    std::string listed(bool json) {
        std::vector<SerialPortInfo> ports = listSerialPortsIn(tree);
        const auto onHost = [&](std::string& path) {
            if (path.compare(0, root.size(), root) == 0) path.erase(0, root.size());
        };
        for (SerialPortInfo& port : ports) {
            onHost(port.name);
            std::for_each(port.byId.begin(), port.byId.end(), onHost);
            std::for_each(port.byPath.begin(), port.byPath.end(), onHost);
        }
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        writePortList(ports, json, out);
        std::fclose(out);
        std::string result(text, size);
        free(text);
        return result;
    }
};

TEST_F(PortListing, EachKindOfPortWithItsNamesAndUsbDetails) {
    EXPECT_EQ(listed(false), "no serial ports found\n");
    EXPECT_EQ(listed(true), "");
    // A device's strings are its own: an escape in one must not reach the terminal.
    usbDevice("1-2", "1e0e", "9001", "0123456789\x1b", "Maker", "Module", 1);
    usbDevice("1-3", "0403", "6010", "FT4ZQ1AB", "FTDI", "Dual RS232", 2);
    for (const TtySpec& t : kMachine)  // its phantom 8250 port and console are no ports either
        add(t);
    EXPECT_EQ(listed(false),
              "PORT           KIND        VID:PID    SERIAL       IF  BY-ID\n"
              "/dev/ttyACM0   cdc-acm     1e0e:9001  0123456789?  0   "
              "usb-Maker_Module_0123456789-if00\n"
              "/dev/ttyS0     uart        -          -            -   -\n"
              "/dev/ttyUSB2   usb-serial  0403:6010  FT4ZQ1AB     0   "
              "usb-FTDI_Dual_RS232_FT4ZQ1AB-if00-port0\n"
              "/dev/ttyUSB10  usb-serial  0403:6010  FT4ZQ1AB     1   "
              "usb-FTDI_Dual_RS232_FT4ZQ1AB-if01-port0\n");
    // The adapters' entries follow, written the same way.
    const std::string json =
        R"({"v":1,"event":"port","port":"/dev/ttyACM0","kind":"cdc-acm",)"
        R"("by_id":["/dev/serial/by-id/usb-Maker_Module_0123456789-if00"],)"
        R"("by_path":["/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0"],"vid":"1e0e",)"
        R"("pid":"9001","serial":"0123456789\u001b","manufacturer":"Maker","product":"Module",)"
        R"("interface":0})"
        "\n"
        R"({"v":1,"event":"port","port":"/dev/ttyS0","kind":"uart","by_id":[],"by_path":[],)"
        R"("vid":null,"pid":null,"serial":null,"manufacturer":null,"product":null,)"
        R"("interface":null})"
        "\n"
        R"({"v":1,"event":"port","port":"/dev/ttyUSB2",)";
    EXPECT_EQ(listed(true).substr(0, json.size()), json);
}

}  // namespace
}  // namespace kestrel
