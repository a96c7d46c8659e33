#include "ui/sysfs_usb_lookups.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/device_names.h"

namespace kestrel {

namespace {

constexpr int kCommunicationsClass = 0x02;
constexpr int kAcmSubclass = 0x02;
// CDC ACM protocols that speak AT commands: V.250, PCCA-101 (with wake-up), GSM 07.07,
// 3GPP 27.007, TIA CDMA.
constexpr int kFirstAtProtocol = 0x01;
constexpr int kLastAtProtocol = 0x06;

// A sysfs attribute holding a hexadecimal number ("02\n"), or -1.
int readHexAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return -1;
    buf[n] = '\0';
    char* end = nullptr;
    const long value = std::strtol(buf, &end, 16);
    if (end == buf || value < 0 || value > 0xFF) return -1;
    return static_cast<int>(value);
}

bool isAtModemInterface(const std::string& interfaceDir) {
    const int protocol = readHexAttribute(interfaceDir + "/bInterfaceProtocol");
    return readHexAttribute(interfaceDir + "/bInterfaceClass") == kCommunicationsClass &&
           readHexAttribute(interfaceDir + "/bInterfaceSubClass") == kAcmSubclass &&
           protocol >= kFirstAtProtocol && protocol <= kLastAtProtocol;
}

bool fitText(const std::string& value, char (&text)[kTextCapacity]) {
    if (value.size() >= kTextCapacity) return false;  // an over-long text counts as none
    std::memcpy(text, value.c_str(), value.size() + 1);
    return true;
}

}  // namespace

SysfsUsbPortLookups::SysfsUsbPortLookups(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

long SysfsUsbPortLookups::firstModemNumber() const {
    const std::string ttyClass = sysRoot_ + "/class/tty";
    long lowest = -1;
    for (const std::string& name : directoryNames(ttyClass)) {
        const long n = deviceNumber(name, "ttyACM");
        if (n < 0 || (lowest >= 0 && n >= lowest)) continue;
        // "device" leads to the USB interface the tty belongs to.
        if (isAtModemInterface(ttyClass + "/" + name + "/device")) lowest = n;
    }
    return lowest;
}

bool SysfsUsbPortLookups::attachedTo(char (&text)[kTextCapacity]) {
    const long n = firstModemNumber();
    return n >= 0 && fitText(devRoot_ + "/ttyACM" + std::to_string(n), text);
}

bool SysfsUsbPortLookups::address(char (&text)[kTextCapacity]) {
    const long n = firstModemNumber();
    if (n < 0) return false;
    struct stat device;
    if (::stat((devRoot_ + "/ttyACM" + std::to_string(n)).c_str(), &device) != 0) return false;

    const std::string byId = devRoot_ + "/serial/by-id";
    std::vector<std::string> names = directoryNames(byId);
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names) {
        struct stat target;  // stat follows the link to the device node
        const std::string path = byId + "/" + name;
        if (::stat(path.c_str(), &target) == 0 && target.st_dev == device.st_dev &&
            target.st_ino == device.st_ino)
            return fitText(path, text);
    }
    return false;
}

}  // namespace kestrel
