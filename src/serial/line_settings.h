// The line settings record of the serial port: one fixed framing (8N1, raw, no flow control
// of any kind) plus the rate and the DTR/RTS modes that travel with it. The fields mirror
// the Win32 DCB one to one, so each backend can apply the record without interpretation.
#pragma once

#include <cstdint>

namespace kestrel {

enum class LineMode : uint8_t { Disable, Enable };

struct LineSettings {
    uint32_t rate = 0;
    uint8_t dataBits = 8;
    bool parityCheck = false;  // no parity, no parity checking
    uint8_t stopBits = 1;
    bool binary = true;        // no end-of-file character: every byte passes
    bool outxCtsFlow = false;  // transmit not held by CTS
    bool outxDsrFlow = false;  // transmit not held by DSR
    LineMode dtrMode = LineMode::Disable;
    bool dsrSensitivity = false;  // receive whatever the status lines say
    bool outX = false;            // no XON/XOFF in either direction
    bool inX = false;
    bool txContinueOnXoff = false;
    bool errorCharReplace = false;  // bytes with parity errors are not replaced
    bool nullDiscard = false;       // NUL bytes are kept
    LineMode rtsMode = LineMode::Enable;
    bool abortOnError = false;  // a line error never stops reads or writes
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    // None of these take effect, since the features that use them are off.
    uint8_t xonChar = 0x6E;
    uint8_t xoffChar = 0x66;
    uint8_t errorChar = 0x72;
    uint8_t eofChar = 0x00;
    uint8_t evtChar = 0x76;
};

// The record as openPort() fills it: the given rate, DTR on only for the module's USB port.
inline LineSettings makeLineSettings(uint32_t rate, bool usbMode) {
    LineSettings s;
    s.rate = rate;
    s.dtrMode = usbMode ? LineMode::Enable : LineMode::Disable;
    return s;
}

}  // namespace kestrel
