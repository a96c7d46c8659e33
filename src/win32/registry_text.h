// Reading one registry value as a text, the way every registry read of the program does it.
#pragma once

#include <windows.h>

#include "session/session_settings.h"

namespace kestrel {

// Reads value `name` of `key` into a buffer of kTextCapacity bytes; `text` gets the data up to
// its first NUL (at most 259 characters). False when the value is missing, cannot be read or
// does not fit into the buffer. The value's type is not examined.
bool queryRegistryText(HKEY key, const char* name, char (&text)[kTextCapacity]);

}  // namespace kestrel
