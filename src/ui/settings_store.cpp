#include "ui/settings_store.h"

#include "ui/bounded_text.h"

namespace kestrel {

namespace {

constexpr char kFirmwareFile[] = "FirmwareFile";
constexpr char kComPort[] = "COMPort";
constexpr char kBaudRate[] = "BaudRate";

void loadValue(SettingsKey& key, const char* name, char (&text)[kTextCapacity]) {
    char value[kTextCapacity];
    if (key.queryValue(name, value)) copyBounded(text, value);
}

}  // namespace

void loadSettings(SettingsKey& key, SettingsTexts* texts) {
    if (!key.open()) return;
    loadValue(key, kFirmwareFile, texts->firmwareFile);
    loadValue(key, kComPort, texts->comPort);
    loadValue(key, kBaudRate, texts->baudRate);
    key.close();
}

void saveSettings(SettingsKey& key, const SettingsTexts& texts) {
    if (!key.open()) return;
    // A failed write does not stop the next one.
    key.setValue(kFirmwareFile, texts.firmwareFile);
    key.setValue(kComPort, texts.comPort);
    key.setValue(kBaudRate, texts.baudRate);
    key.close();
}

}  // namespace kestrel
