// Finding the rate at which the module answers AT commands.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace kestrel {

// Restarts the module and probes the requested rate first, then 460800, 230400, 115200,
// 57600, 38400 and 19200 (skipping the requested one), for two passes. Returns the
// requested rate when the module answers at it (also on a second, confirming probe),
// another rate from the list when only that one answers (the port is left there), or -1.
int32_t detectBaudRate(SerialPort& port, int32_t requestedRate);

}  // namespace kestrel
