#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>

#include "serial/device_names.h"
#include "serial/device_tree_posix.h"
#include "serial/port_listing.h"

namespace kestrel {

namespace {

int hexAttribute(const std::string& path) {
    const std::string text = firstLineOf(path);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    return end != text.c_str() && *end == '\0' && value >= 0 && value <= 0xFFFF
               ? static_cast<int>(value)
               : -1;
}

// The last part of where `link` leads ("cdc_acm" for ".../drivers/cdc_acm"), or empty.
std::string linkName(const std::string& link) {
    char target[PATH_MAX];
    if (realpath(link.c_str(), target) == nullptr) return {};
    const char* slash = std::strrchr(target, '/');
    return slash != nullptr ? slash + 1 : target;
}

// A hundred names at most (class/tty on a PC): an insertion sort keeps the program small.
void sortNaturally(std::vector<std::string>* names) {
    for (size_t i = 1; i < names->size(); ++i)
        for (size_t j = i; j > 0 && naturalLess((*names)[j], (*names)[j - 1]); --j)
            (*names)[j].swap((*names)[j - 1]);
}

// The links in `folder` that lead to `node` (udev's names lead to the node itself).
std::vector<std::string> linksTo(const std::string& folder, const struct stat& node) {
    std::vector<std::string> links;
    for (const std::string& name : directoryNames(folder)) {
        struct stat st {};
        const std::string path = folder + "/" + name;
        if (::stat(path.c_str(), &st) == 0 && st.st_dev == node.st_dev && st.st_ino == node.st_ino)
            links.push_back(path);
    }
    sortNaturally(&links);
    return links;
}

// The port behind class/tty/NAME, false for a tty that is no serial port: a console or
// pseudo-terminal (no device behind it), or one of the ports the 8250 driver makes for every
// possible UART whether there is one or not (its type is 0, "unknown").
bool describe(const DeviceTree& tree, const std::string& name, SerialPortInfo* port) {
    const std::string tty = tree.sysRoot + "/class/tty/" + name;
    struct stat st {};
    if (::stat((tty + "/device").c_str(), &st) != 0) return false;
    const std::string type = firstLineOf(tty + "/type");
    if (!type.empty() && std::strtol(type.c_str(), nullptr, 10) == 0) return false;

    port->name = tree.devRoot + "/" + name;
    port->kind = "uart";
    unsigned major = 0, minor = 0;
    if (std::sscanf(firstLineOf(tty + "/dev").c_str(), "%u:%u", &major, &minor) == 2) {
        const UsbPlace place = usbPlaceOf(tree, makedev(major, minor));
        if (!place.device.empty()) {
            // A modem interface is cdc_acm's own; every other USB port is an adapter's.
            port->kind = linkName(tty + "/device/driver") == "cdc_acm" ? "cdc-acm" : "usb-serial";
            port->interfaceNumber = place.interfaceNumber;
            port->vendorId = hexAttribute(place.device + "/idVendor");
            port->productId = hexAttribute(place.device + "/idProduct");
            port->serial = firstLineOf(place.device + "/serial");
            port->manufacturer = firstLineOf(place.device + "/manufacturer");
            port->product = firstLineOf(place.device + "/product");
        }
    }
    if (::stat(port->name.c_str(), &st) == 0) {
        port->byId = linksTo(tree.devRoot + "/serial/by-id", st);
        port->byPath = linksTo(tree.devRoot + "/serial/by-path", st);
    }
    return true;
}

}  // namespace

std::vector<SerialPortInfo> listSerialPortsIn(const DeviceTree& tree) {
    std::vector<std::string> names = directoryNames(tree.sysRoot + "/class/tty");
    sortNaturally(&names);
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : names) {
        SerialPortInfo port;
        if (describe(tree, name, &port)) ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<SerialPortInfo> listSerialPorts() {
    return listSerialPortsIn(hostDeviceTree());
}

}  // namespace kestrel
