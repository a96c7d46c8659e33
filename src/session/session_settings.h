// The operator's choices as a session sees them, and the conversions applied to them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Every text taken from a field or a stored setting: at most 259 characters and a NUL.
constexpr size_t kTextCapacity = 260;
// A port name with the four-character device-namespace prefix in front.
constexpr size_t kDevicePathCapacity = kTextCapacity + 4;

// The fields of a front end, as texts and flags.
struct SessionFields {
    char portName[kTextCapacity] = {};
    char rateText[kTextCapacity] = {};
    bool usb = false;
    bool noFirmware = false;
    char firmwareName[kTextCapacity] = {};  // empty when the front end has no such field
};

// The snapshot a session takes at its start.
struct SessionSettings {
    char portName[kTextCapacity] = {};
    int32_t rate = 0;
    bool usb = false;
    bool noFirmware = false;
    char firmwareName[kTextCapacity] = {};
};

// Decimal conversion of a rate text: leading white space and a sign accepted, stops at the
// first non-digit, 0 without digits. Values past 32 bits are clamped, not undefined.
int32_t convertRateText(const char* text);

// Copies `src` into a text buffer of kTextCapacity bytes, cutting it at 259 characters.
void copyText(char (&dst)[kTextCapacity], const char* src);

SessionSettings takeSnapshot(const SessionFields& fields);

// The device path a session opens: names longer than 4 characters beginning with "COM" get
// the "\\.\" prefix (COM10 becomes \\.\COM10); others stay as they are.
void normalizePortName(const char* portName, char (&devicePath)[kDevicePathCapacity]);

}  // namespace kestrel
