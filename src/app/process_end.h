// Ending the process after the window is closed. A session may be blocked in a call to the
// window at that moment: returning from main would run destructors under its feet (a crash)
// or wait for it (a hang), so the process ends at once without them.
#pragma once

namespace kestrel {

// Flushes standard output and error and ends the process with `exitCode`.
[[noreturn]] void endProcessNow(int exitCode);

}  // namespace kestrel
