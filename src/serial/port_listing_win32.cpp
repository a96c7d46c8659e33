#include <windows.h>

#include "serial/port_listing.h"

namespace kestrel {

// The COM ports the serial drivers announce under SERIALCOMM (one value a port, its data the
// port's name); Windows tells no USB details there.
std::vector<SerialPortInfo> listSerialPorts() {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char value[260], data[260];
            DWORD valueSize = sizeof value, dataSize = sizeof data - 1, type = 0;
            const LONG result = RegEnumValueA(key, i, value, &valueSize, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &dataSize);
            if (result == ERROR_MORE_DATA) continue;  // no port has such a name
            if (result != ERROR_SUCCESS) break;
            if (type != REG_SZ || dataSize == 0) continue;
            data[dataSize] = '\0';  // the stored text need not end in one
            names.emplace_back(data);
        }
        RegCloseKey(key);
    }
    // Natural order for names that differ only in their number (COM2 before COM10); a
    // handful of names: an insertion sort keeps the program small.
    for (size_t i = 1; i < names.size(); ++i) {
        for (size_t j = i; j > 0; --j) {
            const std::string &a = names[j - 1], &b = names[j];
            if (a.size() < b.size() || (a.size() == b.size() && a <= b)) break;
            names[j].swap(names[j - 1]);
        }
    }
    std::vector<SerialPortInfo> ports(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        ports[i].name.swap(names[i]);
    return ports;
}

}  // namespace kestrel
