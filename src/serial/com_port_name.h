// How Windows wants a COM port named. Plain text work, kept out of the Win32 backend so that
// every platform's tests can hold it to the names Windows sees.
#pragma once

#include <cstddef>

namespace kestrel {

// Room for a 259-character name, the prefix, and the prefix once more for the retry.
constexpr size_t kComPathCapacity = 272;

// The two paths the Win32 backend tries for the operator's `name`, in order:
//   first:  a name longer than four characters that begins with "COM" (case-sensitive; COM10
//           and up) only opens in the device namespace, so it gets "\\.\" in front; any
//           other name stays as typed (COM9, com12 and \\.\COM3 unchanged);
//   second: "\\.\" in front of the first (even one that already has it).
// Both get kComPathCapacity bytes. False when a path would not fit.
bool comPortPaths(const char* name, char* first, char* second);

}  // namespace kestrel
