// The three texts that survive from one run to the next: firmware name, port and rate.
// They are exchanged with the window's fields as texts, exactly as the fields show them.
#pragma once

#include "session/session_settings.h"

namespace kestrel {

// The settings store as a registry key: opened (and created when missing) with read and write
// access, values read into a buffer of kTextCapacity bytes, string values written.
class SettingsKey {
  public:
    virtual ~SettingsKey() = default;
    // Opens the key, creating it when missing. False when it cannot be opened or created.
    virtual bool open() = 0;
    // Reads value `name` into `text` (up to the first NUL of its data). False when the value is
    // missing, cannot be read, or its data (terminating NUL included) exceeds kTextCapacity.
    virtual bool queryValue(const char* name, char (&text)[kTextCapacity]) = 0;
    // Writes `text` as string value `name`. False when it could not be written.
    virtual bool setValue(const char* name, const char* text) = 0;
    // Releases the key; what was set is stored by now.
    virtual void close() = 0;
};

// The fields' texts as load and save exchange them.
struct SettingsTexts {
    char firmwareFile[kTextCapacity] = {};
    char comPort[kTextCapacity] = {};
    char baudRate[kTextCapacity] = {};
};

// Replaces each text whose value can be read; the others keep what they hold. Nothing happens
// when the key cannot be opened.
void loadSettings(SettingsKey& key, SettingsTexts* texts);

// Writes all three texts; nothing when the key cannot be opened. No failure is reported.
void saveSettings(SettingsKey& key, const SettingsTexts& texts);

}  // namespace kestrel
