// The alternative name under which the serial driver retries a device that did not open
// under the name given: operators and saved settings speak of COM ports, Linux of /dev.
#pragma once

#include <cstddef>

namespace kestrel {

// Maps a device name to its /dev path into `out` (NUL-terminated):
//   any leading "\\.\" is dropped;
//   "COM<n>" (any letter case, n >= 1, digits only) becomes /dev/ttyS<n-1>;
//   any other name without a '/' becomes /dev/<name>;
//   a path stays as it is.
// False for an empty name, or when the result does not fit into `capacity` bytes.
bool posixDeviceName(const char* name, char* out, size_t capacity);

}  // namespace kestrel
