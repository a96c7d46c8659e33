// The module's AT command dialogue: the only place that speaks its command language.
// Every command text ends in a carriage return; a reply succeeds when it contains the
// verbose final result "OK\r\n". Works on the port it is handed; keeps no state.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace kestrel {

// The reply buffer every caller passes: at most 259 received bytes and a NUL.
constexpr unsigned kReplyCapacity = 260;

// Whether `text` (NUL-terminated) contains "OK\r\n" anywhere.
bool containsOk(const char* text);

// Collects the module's reply to `command` (just written) into `reply` (`capacity` >= 2):
// drops the echo strictly in order, gives the first reply byte 5000 ms (echo included),
// then collects until a 5 ms gap, capacity - 1 bytes, or (with `stopAtOk`) right behind the
// first "OK\r\n". 1 when a reply began, 0 when only echo or nothing came (reply empty).
int readReply(SerialPort& port, const char* command, char* reply, unsigned capacity, bool stopAtOk);

// Writes `command` and reads its reply, sending it a second time only when nothing at all
// came back. 1 when the reply contains "OK\r\n".
int sendAtCommand(SerialPort& port, const char* command, char* reply, unsigned capacity);

// Sends "ATE1V1Q0\r" at the port's current rate and looks for "OK\r\n" in what arrives
// within about 200 ms. 1 when the module answered.
int probeAtMode(SerialPort& port);

}  // namespace kestrel
