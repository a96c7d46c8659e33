#include "win32/registry_settings_key.h"

#include <cstring>

#include "win32/registry_text.h"

namespace kestrel {

const char kSettingsSubkey[] = "SOFTWARE\\Norvald\\Kestrel";

namespace {
// The class string the key is created with (the API takes it writable).
char g_keyClass[] = "REG_SZ";
}  // namespace

bool RegistrySettingsKey::open() {
    close();
    DWORD disposition = 0;
    // Read and write access for loading too: a user who may not write the local machine's
    // part of the registry gets neither, and the window keeps its defaults.
    const LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, g_keyClass, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key_, &disposition);
    if (result != ERROR_SUCCESS) key_ = nullptr;
    return key_ != nullptr;
}

bool RegistrySettingsKey::queryValue(const char* name, char (&text)[kTextCapacity]) {
    return key_ != nullptr && queryRegistryText(key_, name, text);
}

bool RegistrySettingsKey::setValue(const char* name, const char* text) {
    if (key_ == nullptr) return false;
    char bounded[kTextCapacity];
    copyText(bounded, text);
    const DWORD size = static_cast<DWORD>(std::strlen(bounded) + 1);  // the NUL is stored too
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bounded), size) ==
           ERROR_SUCCESS;
}

void RegistrySettingsKey::close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
}

}  // namespace kestrel
