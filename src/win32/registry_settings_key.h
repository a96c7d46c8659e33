// The settings store on Windows: the key SOFTWARE\Norvald\Kestrel of the local machine.
#pragma once

#include <windows.h>

#include "ui/settings_store.h"

namespace kestrel {

extern const char kSettingsSubkey[];

class RegistrySettingsKey final : public SettingsKey {
  public:
    RegistrySettingsKey() = default;
    ~RegistrySettingsKey() override { close(); }
    RegistrySettingsKey(const RegistrySettingsKey&) = delete;
    RegistrySettingsKey& operator=(const RegistrySettingsKey&) = delete;

    // RegCreateKeyExA: opens the key, creating it when missing, for reading and writing.
    bool open() override;
    // RegQueryValueExA into a buffer of 260 bytes.
    bool queryValue(const char* name, char (&text)[kTextCapacity]) override;
    // RegSetValueExA, type REG_SZ, the text and its terminating NUL.
    bool setValue(const char* name, const char* text) override;
    // RegCloseKey; harmless when not open.
    void close() override;

  private:
    HKEY key_ = nullptr;
};

}  // namespace kestrel
