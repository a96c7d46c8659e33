// The operator's choices as a session sees them, and the conversions applied to them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/rate_text.h"

namespace kestrel {

// Every text taken from a field or a stored setting: at most 259 characters and a NUL.
constexpr size_t kTextCapacity = 260;

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

// Copies `src` into a text buffer of kTextCapacity bytes, cutting it at 259 characters.
void copyText(char (&dst)[kTextCapacity], const char* src);

SessionSettings takeSnapshot(const SessionFields& fields);

}  // namespace kestrel
