// The serial port driver: the one serial device of the process, as plain functions over
// process-wide state. Results are 1 for success and 0 for failure unless stated; every
// operation on a port that is not open fails without touching any device, and closePort()
// is harmless in any state. Called from the session's worker thread only.
#pragma once

#include <cstdint>

#include "serial/line_settings.h"
#include "serial/serial_os.h"

namespace kestrel {

// Opens `name` (whole, whatever its length), retrying once under its device-namespace form;
// applies the line settings (DTR on only when `usbMode`), the 5 ms read timeout, and purges.
// Call only while the port is not open. 1 when open, 0 with the port left not open.
int openPort(const char* name, uint32_t rate, bool usbMode);

// Drops DTR (recording the disabled mode) and releases the device. No-op when not open.
void closePort();

// Discards buffered bytes both ways. 1 or 0.
int purgePort();

// Switches the rate, verifies it by reading it back, then settles: 1500 ms, DTR off 400 ms,
// DTR on, 500 ms. 0 at once (no waits, no pulse) when refused or when the device runs at
// another rate, which then becomes the recorded rate.
int setBaudRate(uint32_t rate);

// Restarts the module: DTR off 100 ms, DTR on, 300 ms, then waits up to 15000 ms for CTS.
// Returns the CTS wait's result; performs its waits even on a port that is not open.
int restartModule();

// Polls CTS every 1 ms until it shows `level` (1 on, 0 off), then settles 100 ms (on) or
// 500 ms (off) and returns 1; 0 after `timeoutMs`, or at once when the status cannot be read.
int waitForCts(int level, uint32_t timeoutMs);

// One read of one byte (at most 5 ms). 1 when a byte was stored in `*byte`.
int readByteNow(uint8_t* byte);

// Yields and reads until a byte arrives or `timeoutMs` has passed; at least one attempt.
int readByteTimed(uint8_t* byte, uint32_t timeoutMs);

// As readByteTimed(), but a byte received with a line error is dropped and polling goes on.
int readByteChecked(uint8_t* byte, uint32_t timeoutMs);

// One blocking write of `count` bytes; returns how many the device took (0 when not open).
uint16_t writeBytes(const uint8_t* bytes, uint16_t count);

// For tests and diagnostics: whether the port is open, and the recorded line settings.
bool portIsOpen();
const LineSettings& portLineSettings();

// Replaces the platform layer (nullptr restores the platform's own). For tests; call only
// while the port is closed.
void setSerialOs(SerialOs* os);

}  // namespace kestrel
