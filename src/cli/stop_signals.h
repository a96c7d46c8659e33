// How kestrel-cli hears that it should stop: SIGINT/SIGTERM on POSIX, Ctrl-C, Ctrl-Break and
// the console closing on Windows. The first asks the sessions to finish the way a failure
// does, the second to end at once.
#pragma once

#include "session/stop_request.h"

namespace kestrel {

// Routes the stop signals to `stop` for the rest of the process, and calls `wake` (which must
// be safe to call from a signal handler, or null) after each. Also makes a reader that goes
// away (SIGPIPE) harmless: writes to it just fail.
void installStopSignals(StopRequest& stop, void (*wake)(void* context), void* context);

}  // namespace kestrel
