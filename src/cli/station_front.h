// kestrel-cli --station: the station loop with kestrel-cli's sessions as its units and its
// records printed as text or JSON.
#pragma once

#include "cli/port_session.h"

namespace kestrel {

// Watches run.options.station until a stop signal and updates each new module; returns the
// station's exit code (0 when every unit passed, else 1; 2 when the pattern cannot be
// watched).
int runStation(const RunContext& run);

}  // namespace kestrel
