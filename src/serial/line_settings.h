// What a port needs to know about its line besides the fixed framing (8N1, raw, no flow
// control of any kind, RTS on): the rate, and whether DTR is held on.
#pragma once

#include <cstdint>

namespace kestrel {

struct LineSettings {
    uint32_t rate = 0;
    bool dtrOn = false;
};

// The record as openPort() fills it: the given rate, DTR on only for the module's USB port.
inline LineSettings makeLineSettings(uint32_t rate, bool usbMode) {
    LineSettings s;
    s.rate = rate;
    s.dtrOn = usbMode;
    return s;
}

}  // namespace kestrel
