#include "modem_sim/usb_device_tree.h"

#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel::sim {

namespace {

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// mkdir -p.
bool makeDirs(const std::string& path) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string dir = path.substr(0, at);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) return true;
    }
}

bool writeFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) return false;
    const bool written = std::fputs(text.c_str(), f) >= 0;
    return std::fclose(f) == 0 && written;
}

int removeEntry(const char* path, const struct stat*, int, FTW*) {
    return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

// rm -r, not following links.
void removeTree(const std::string& path) {
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// The driver a modem interface is bound to, relative to sys/.
const char* const kDriver = "bus/usb/drivers/cdc_acm";
// Made-up USB ids of the simulated module (those the docs' udev rule example uses).
const char* const kVendorId = "1a2b\n";
const char* const kProductId = "00c4\n";

// The way up from `folder` (relative to sys/) to sys/ itself.
std::string upToSys(const std::string& folder) {
    std::string up = "../";
    for (char c : folder)
        if (c == '/') up += "../";
    return up;
}

// A link `at` to `target`, replacing whatever was there.
bool link(const std::string& target, const std::string& at) {
    ::unlink(at.c_str());
    return symlink(target.c_str(), at.c_str()) == 0;
}

}  // namespace

bool UsbDeviceTree::create(const std::string& root, int bus, const std::string& serial,
                           std::string* error) {
    root_ = root;
    bus_ = bus;
    serial_ = serial;
    hub_ = "devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
    const std::string sys = sysRoot();
    for (const std::string& dir : {sys + "/" + hub_, sys + "/class/tty", sys + "/dev/char",
                                   sys + "/" + kDriver, devRoot()}) {
        if (!makeDirs(dir)) {
            *error = errnoText("making " + dir);
            return false;
        }
    }
    if (!writeFile(sys + "/" + hub_ + "/busnum", std::to_string(bus) + "\n") ||
        !writeFile(sys + "/" + hub_ + "/devnum", "1\n")) {
        *error = errnoText("writing the root hub under " + sys);
        return false;
    }
    return true;
}

bool UsbDeviceTree::addTty(const std::string& name, dev_t device, int usbPort, std::string* error) {
    removeTty();
    const std::string sys = sysRoot();
    const std::string usbName = std::to_string(bus_) + "-" + std::to_string(usbPort);
    usbDevice_ = hub_ + "/" + usbName;
    const std::string interface = usbDevice_ + "/" + usbName + ":1.0";
    const std::string tty = interface + "/tty/" + name;
    const std::string numbers = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    classLink_ = sys + "/class/tty/" + name;
    charLink_ = sys + "/dev/char/" + numbers;
    // The folders and their files first, then the links that lead to them.
    const bool made =
        makeDirs(sys + "/" + tty) &&
        writeFile(sys + "/" + usbDevice_ + "/busnum", std::to_string(bus_) + "\n") &&
        writeFile(sys + "/" + usbDevice_ + "/devnum", std::to_string(nextDevnum_++) + "\n") &&
        writeFile(sys + "/" + usbDevice_ + "/idVendor", kVendorId) &&
        writeFile(sys + "/" + usbDevice_ + "/idProduct", kProductId) &&
        (serial_.empty() || writeFile(sys + "/" + usbDevice_ + "/serial", serial_ + "\n")) &&
        writeFile(sys + "/" + interface + "/bInterfaceNumber", "00\n") &&
        link(upToSys(interface) + kDriver, sys + "/" + interface + "/driver") &&
        writeFile(sys + "/" + tty + "/dev", numbers + "\n") &&
        link("../..", sys + "/" + tty + "/device") && link("../../" + tty, classLink_) &&
        link("../../" + tty, charLink_);
    if (!made) {
        *error = errnoText("publishing " + name + " under " + sys);
        removeTty();
        return false;
    }
    return true;
}

void UsbDeviceTree::removeTty() {
    if (usbDevice_.empty()) return;
    ::unlink(classLink_.c_str());
    ::unlink(charLink_.c_str());
    removeTree(sysRoot() + "/" + usbDevice_);
    usbDevice_.clear();
}

}  // namespace kestrel::sim
