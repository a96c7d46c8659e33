// The module's commands by what they do. Every command and reply text of the update lives
// here; the session calls these by name. Each runs over the port it is handed, at the port's
// present rate.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace kestrel {

// "AT+IPR?\r": asks the module for its configured rate. True with `*rate` set when the reply
// (after leading line noise) begins with "+IPR: "; the number is taken whatever its value.
bool queryModuleRate(SerialPort& port, int32_t* rate);

// "AT+IPR=<rate>\r": moves the module to `rate`. 1 when it answered OK.
int moveModuleRate(SerialPort& port, int32_t rate);

// "AT^SFDL\r": asks for download mode. 1 when the module answered OK.
int requestDownloadMode(SerialPort& port);

// The download command written blind, for a module that cannot answer (nothing is read).
void sendBlindDownloadCommand(SerialPort& port);

// "AT^SMSO\r": switches the module off. 1 when it answered OK.
int switchModuleOff(SerialPort& port);

}  // namespace kestrel
