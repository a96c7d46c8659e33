// kestrel-cli --list: the machine's serial ports, as aligned text or as JSON Lines.
#pragma once

#include <cstdio>
#include <vector>

#include "serial/port_listing.h"

namespace kestrel {

// Writes the host's serial ports to `out` (JSON: one "port" event a port and nothing else);
// returns the exit code, 0.
int runListCommand(bool json, FILE* out);

// Writes `ports`, in their order: a header and one line a port, or "no serial ports found";
// with `json` one object a port.
void writePortList(const std::vector<SerialPortInfo>& ports, bool json, FILE* out);

}  // namespace kestrel
