#include "serial/device_tree_posix.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int readNumber(const std::string& path, int base) {
    const std::string text = firstLineOf(path);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    return end != text.c_str() ? static_cast<int>(value) : -1;
}

}  // namespace

std::string firstLineOf(const std::string& path) {
    char text[260] = {};
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return {};
    if (std::fgets(text, sizeof text, f) == nullptr) text[0] = '\0';
    std::fclose(f);
    text[std::strcspn(text, "\r\n")] = '\0';
    return text;
}

UsbPlace usbPlaceOf(const DeviceTree& tree, dev_t device) {
    UsbPlace place;
    char link[64];
    std::snprintf(link, sizeof link, "/dev/char/%u:%u", major(device), minor(device));
    char resolved[PATH_MAX];
    if (realpath((tree.sysRoot + link).c_str(), resolved) == nullptr) return place;
    // Up from the tty: the USB interface has bInterfaceNumber, the USB device above it
    // busnum and devnum. Nothing above the sysfs root counts.
    std::string dir = resolved;
    while (dir.size() > tree.sysRoot.size()) {
        if (place.interfaceNumber < 0 && exists(dir + "/bInterfaceNumber"))
            place.interfaceNumber = readNumber(dir + "/bInterfaceNumber", 16);
        if (exists(dir + "/busnum") && exists(dir + "/devnum")) {
            place.device = dir;
            return place;
        }
        const size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        dir.resize(slash);
    }
    return UsbPlace();
}

std::string byIdNameOf(const DeviceTree& tree, dev_t device) {
    const std::string folder = tree.devRoot + "/serial/by-id";
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return {};
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string path = folder + "/" + e->d_name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
            found = path;
            break;
        }
    }
    closedir(d);
    return found;
}

std::string ttyAt(const DeviceTree& tree, const UsbPlace& place) {
    if (place.device.empty()) return {};
    const std::string folder = tree.sysRoot + "/class/tty";
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return {};
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        char resolved[PATH_MAX];
        if (realpath((folder + "/" + e->d_name).c_str(), resolved) == nullptr) continue;
        const std::string dir = resolved;
        // Below the USB device itself, not below one whose name merely begins alike.
        if (dir.compare(0, place.device.size() + 1, place.device + "/") != 0) continue;
        // The interface is the folder right below the USB device: "1-2:1.<n>".
        const size_t end = dir.find('/', place.device.size() + 1);
        const std::string interface = dir.substr(0, end);
        if (readNumber(interface + "/bInterfaceNumber", 16) != place.interfaceNumber) continue;
        found = tree.devRoot + "/" + e->d_name;
        break;
    }
    closedir(d);
    return found;
}

DeviceTree hostDeviceTree() {
    DeviceTree tree;
    const char* sys = std::getenv("KESTREL_SYSFS_ROOT");
    const char* dev = std::getenv("KESTREL_DEV_ROOT");
    if (sys != nullptr && sys[0] == '/') tree.sysRoot = sys;
    if (dev != nullptr && dev[0] == '/') tree.devRoot = dev;
    return tree;
}

}  // namespace kestrel
