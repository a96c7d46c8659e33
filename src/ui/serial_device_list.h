// The serial devices present on the machine, as the port list shows them behind COM1..COM9.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// Full paths under `devRoot`: the stable names in serial/by-id, then ttyACM*, then ttyUSB*,
// each group in natural order.
std::vector<std::string> listSerialDevices(const std::string& devRoot = "/dev");

}  // namespace kestrel
