#include "serial/udev_rule_posix.h"

#include <cctype>
#include <cstdio>

namespace kestrel {

namespace {

// A USB id from sysfs: exactly four hexadecimal digits, else `placeholder`. Nothing else may
// reach a rule the user is told to copy.
std::string usbId(const std::string& file, const char* placeholder) {
    if (file.empty()) return placeholder;
    FILE* f = std::fopen(file.c_str(), "re");
    if (f == nullptr) return placeholder;
    char text[16] = {};
    const bool got = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    for (int i = 0; got && i < 4; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return placeholder;
    if (!got || (text[4] != '\n' && text[4] != '\0')) return placeholder;
    std::string id(text, 4);
    for (char& c : id)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

}  // namespace

std::string modemManagerIgnoreRule(const DeviceTree& tree, dev_t device) {
    const std::string usb = usbPlaceOf(tree, device).device;
    const std::string vendor = usbId(usb.empty() ? usb : usb + "/idVendor", "VVVV");
    const std::string product = usbId(usb.empty() ? usb : usb + "/idProduct", "PPPP");
    return "ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product +
           "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
}

}  // namespace kestrel
