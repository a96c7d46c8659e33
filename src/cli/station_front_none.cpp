// Windows: no station. A COM port that appears is not announced to a watcher that could be
// tested here (wine lists only the ports it had when it started), and an untested station
// must not flash modules on a line; --port covers the Windows bench.
#include "cli/station_front.h"

namespace kestrel {

int runStation(const RunContext& run) {
    run.console.errLine("kestrel-cli: --station is not available on Windows; use --port");
    return 2;
}

}  // namespace kestrel
