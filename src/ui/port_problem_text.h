// What the window tells about a port that did not open: the system's reason ("PATH: MESSAGE")
// on the first line, what to do about it below.
#pragma once

#include <string>

#include "platform/system_error.h"

namespace kestrel {

// Empty when nothing is known about `reason`.
std::string portProblemText(const SystemError& reason);

}  // namespace kestrel
