// Which device an operator's port name stands for on Linux, and which devices never serve as
// a port: operators and saved settings speak of COM ports or of bare device names, Linux of
// /dev; and the terminal the operator works at must never receive AT commands.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace kestrel {

// Maps the port name `name` to its device path into `out` (NUL-terminated):
//   "COM<n>" (any letter case, n >= 1, digits only) becomes /dev/ttyS<n-1>;
//   any other name without a '/' becomes /dev/<name>;
//   an absolute path stays as it is.
// Returns nullptr when mapped, else our reason why not: an empty name, a name with a '/'
// that is not absolute (it would depend on the working directory), a path too long for
// `capacity`.
const char* posixDeviceName(const char* name, char* out, size_t capacity);

// Our reason why the character device numbered `device` must not serve as a port, or nullptr
// when it may: the process's controlling terminal (and /dev/tty, which stands for it), a
// terminal on standard input, output or error, and the system console.
const char* refusedTerminal(dev_t device);

}  // namespace kestrel
