// The operating system's side of the serial port, kept as small as the driver needs.
//
// One object stands for the one device of the process. Everything portable (retries,
// waits, the line settings record, the CTS wait, the timed reads) lives in serial_port.cpp
// above this interface; an implementation only talks to its platform. Every operation
// except open() is called only while the device is open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/line_settings.h"

namespace kestrel {

class SerialOs {
  public:
    virtual ~SerialOs() = default;

    // Opens the device under exactly this name for reading and writing. False when no
    // device of that name can be opened (or the name is not a serial device).
    virtual bool open(const char* name) = 0;
    // The alternative name tried when open(name) fails (Win32: "\\.\%s"). Writes a
    // NUL-terminated name into `out`; false when it does not fit into `capacity` bytes.
    virtual bool deviceNamespaceForm(const char* name, char* out, size_t capacity) = 0;
    // Applies the whole record, DTR and RTS modes included. False when refused.
    virtual bool applySettings(const LineSettings& settings) = 0;
    // Reads back the rate the device actually runs at.
    virtual bool readRate(uint32_t* rate) = 0;
    // Reads wait at most 5 ms in total for their byte; writes have no timeout.
    virtual bool applyTimeouts() = 0;
    // Switches DTR at once, leaving the rest of the settings alone.
    virtual bool setDtr(bool on) = 0;
    // Present state of the CTS input; false when the modem status cannot be read.
    virtual bool readCts(bool* on) = 0;
    // Ends pending transfers and throws away bytes waiting in either direction.
    virtual bool purge() = 0;
    // Whether any receive error (framing, overrun, overflow, parity, break) occurred since
    // the last query; the query resets the indication. False when the query fails.
    virtual bool takeLineErrors(bool* any) = 0;
    // Reads at most one byte, waiting at most the 5 ms read timeout. `*got` tells whether a
    // byte was stored. False when the read itself failed.
    virtual bool readByte(uint8_t* byte, bool* got) = 0;
    // Hands all `count` bytes to the device (blocking); returns how many it took.
    virtual uint32_t write(const uint8_t* bytes, uint32_t count) = 0;
    // Releases the device.
    virtual void close() = 0;
};

// The platform's implementation (serial_os_posix.cpp or serial_os_win32.cpp).
SerialOs& platformSerialOs();

}  // namespace kestrel
