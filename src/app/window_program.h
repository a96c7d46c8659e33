// The window program around the main window: Qt start-up, the window from template 130,
// the event loop, and the end of the process. It lives in the shared window library, so the
// program file itself (which carries the firmware image behind it) stays small.
#pragma once

#include "session/session_outcome.h"
#include "session/status_reporter.h"

namespace kestrel {

// Runs the program with `runSession` as the update (the program passes runUpdateSession; the
// window explains its outcome when the port did not open). Does not return: closing the window
// ends the process with exit code 2; when no window can be created it ends with 0 after saying
// why on standard error.
[[noreturn]] void runWindowProgram(int argc, char** argv,
                                   SessionOutcome (*runSession)(SessionHost&));

}  // namespace kestrel
