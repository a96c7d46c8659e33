// The operating system's side of a serial port, kept as small as the driver needs.
//
// One object stands for one device. Everything portable (waits, the line settings record,
// the CTS wait, the timed reads) lives in SerialPort above this interface; an implementation
// only talks to its platform, and maps the operator's port name to its own device names.
// Every operation except open() is called only while the device is open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/system_error.h"
#include "serial/line_settings.h"

namespace kestrel {

class SerialOs {
  public:
    virtual ~SerialOs() = default;

    // Opens the device the operator named `name` (as typed) for reading and writing, in the
    // platform's own way of naming ports. False when it is no serial device or cannot be
    // opened, with the system's reason and the path it concerned in `why`.
    virtual bool open(const char* name, SystemError* why) = 0;
    // Applies the whole record, DTR and RTS included. False when refused.
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
    // Throws away the bytes received and not yet read, with their line errors.
    virtual bool dropInput() = 0;
    // How many received bytes wait to be read, without waiting for more.
    virtual bool bytesWaiting(uint32_t* count) = 0;
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

// A new device object of the platform (serial_os_posix.cpp or serial_os_win32.cpp).
std::unique_ptr<SerialOs> createPlatformSerialOs();

}  // namespace kestrel
