// One firmware update, from the operator's fields to the final status text.
#pragma once

#include "session/status_reporter.h"

namespace kestrel {

// Runs one whole update on the calling (worker) thread: takes the snapshot from `host`,
// opens port and image, enters download mode, waits for the start signal, transfers every
// record, hands the module back and reports. On every way out from the port's opening on it
// closes port and image and calls host.enableStart().
void runUpdateSession(SessionHost& host);

}  // namespace kestrel
