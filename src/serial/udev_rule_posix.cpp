#include "serial/udev_rule_posix.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

// A USB id from the sysfs file `name` of `usbDevice`: exactly four hexadecimal digits, in
// lower case, else `placeholder`. Nothing else may reach a rule the user is told to copy.
void readUsbId(const std::string& usbDevice, const char* name, const char* placeholder,
               char (&id)[5]) {
    std::snprintf(id, sizeof id, "%s", placeholder);
    if (usbDevice.empty()) return;
    char path[272];
    if (std::snprintf(path, sizeof path, "%s/%s", usbDevice.c_str(), name) >= int{sizeof path})
        return;
    FILE* f = std::fopen(path, "re");
    if (f == nullptr) return;
    char text[8] = {};
    const bool got = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    if (!got || std::strspn(text, "0123456789abcdefABCDEF") != 4 ||
        (text[4] != '\n' && text[4] != '\0'))
        return;
    for (int i = 0; i < 4; ++i)
        id[i] = static_cast<char>(std::tolower(text[i]));
}

}  // namespace

void modemManagerIgnoreRule(const DeviceTree& tree, dev_t device, char (&out)[kUdevRuleCapacity]) {
    const std::string usb = usbPlaceOf(tree, device).device;
    char vendor[5];
    char product[5];
    readUsbId(usb, "idVendor", "VVVV", vendor);
    readUsbId(usb, "idProduct", "PPPP", product);
    std::snprintf(
        out, sizeof out,
        "ATTRS{idVendor}==\"%s\", ATTRS{idProduct}==\"%s\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"", vendor,
        product);
}

}  // namespace kestrel
