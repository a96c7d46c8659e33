// kestrel-cli's updates on the ports named on its command line: one session per port, all at
// the same time, each with its own objects; a summary at the end when there are several.
#pragma once

#include <string>
#include <vector>

#include "cli/port_session.h"

namespace kestrel {

// Runs every session of `run` (one per entry of run.options.ports) to its end and returns the
// process's exit code: a single port's own code; with several, 0 when every session succeeded,
// else 1 (130/143 when a stop signal ended them).
int runUpdates(const RunContext& run);

// The reason a session failed on standard error, and for a port that did not open what to do
// about it; with `prefix` each line starts "kestrel-cli: PORT: ".
void reportFailureReason(Console& console, const PortResult& result, bool prefix);

// The table printed after several sessions: port, result, exit code, time.
std::string summaryTable(const std::vector<PortResult>& results);

}  // namespace kestrel
