#include "ui/serial_device_list.h"

#include <algorithm>

#include "serial/device_names.h"

namespace kestrel {

namespace {

void appendGroup(const std::string& dir, const char* prefix, std::vector<std::string>* out) {
    std::vector<std::string> names;
    for (const std::string& name : directoryNames(dir)) {
        if (prefix ? deviceNumber(name, prefix) >= 0 : name[0] != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    for (const std::string& name : names)
        out->push_back(dir + "/" + name);
}

}  // namespace

std::vector<std::string> listSerialDevices(const std::string& devRoot) {
    std::vector<std::string> devices;
    appendGroup(devRoot + "/serial/by-id", nullptr, &devices);
    appendGroup(devRoot, "ttyACM", &devices);
    appendGroup(devRoot, "ttyUSB", &devices);
    return devices;
}

}  // namespace kestrel
