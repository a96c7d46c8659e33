// The process exit code that tells a production line how one session ended.
#pragma once

#include "session/session_outcome.h"

namespace kestrel {

// 0 succeeded; 3 port not opened (module untouched); 4 image missing or damaged (untouched);
// 5 not brought into download mode, USB port not back, or no start signal (firmware not
// written); 6 transfer failed part-way (needs a new update with the no-firmware option);
// 7 every block accepted but the hand-back failed; 130 / 143 interrupted by SIGINT / SIGTERM.
int exitCodeOf(const SessionOutcome& outcome);

}  // namespace kestrel
