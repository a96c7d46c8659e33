#include "win32/registry_usb_lookups.h"

#include <windows.h>

#include "win32/registry_text.h"

namespace kestrel {

// Control set 001 by number, not the CurrentControlSet alias.
const char kModemClassInstanceKey[] =
    "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";
const char kUnimodemKey[] = "SOFTWARE\\Microsoft\\Ras\\Tapi Devices\\Unimodem";

namespace {

// Opens the key for reading, reads one value, releases the key. Nothing when any step fails.
bool lookUp(const char* keyPath, const char* valueName, char (&text)[kTextCapacity]) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const bool found = queryRegistryText(key, valueName, text);
    RegCloseKey(key);
    return found;
}

}  // namespace

bool RegistryUsbPortLookups::attachedTo(char (&text)[kTextCapacity]) {
    return lookUp(kModemClassInstanceKey, "AttachedTo", text);
}

bool RegistryUsbPortLookups::address(char (&text)[kTextCapacity]) {
    return lookUp(kUnimodemKey, "Address", text);
}

}  // namespace kestrel
