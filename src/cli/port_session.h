// One update of kestrel-cli on one port, from its objects to its end event: what a run of
// several ports and a station start on a thread per port.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_args.h"
#include "cli/console.h"
#include "image/image_summary.h"
#include "session/session_outcome.h"
#include "session/stop_request.h"

namespace kestrel {

// How the sessions of one run report: one port as the tool always did (status lines, a bar
// on a terminal), several behind their port names, or JSON Lines.
enum class OutputMode { Plain, Prefixed, Json };

// What every session of one run shares.
struct RunContext {
    const CliOptions& options;
    OutputMode mode;
    Console& console;
    StopRequest& stop;
    const char* programPath;    // the file carrying the image
    const ImageSummary& image;  // records 0 when it could not be read
    bool logPerPort = false;    // --log names one file per port
};

struct PortResult {
    std::string port;
    SessionOutcome outcome;
    int exitCode = 0;
    uint32_t durationMs = 0;
    std::string transcript;  // the --log file, or where a failure's transcript was kept
    std::string failedStep;  // the phase a failed session ended in; empty: none or unknown
};

// Runs one whole update on `port` on the calling thread and reports it as the run's mode
// says, begin and end included.
PortResult runPortSession(const RunContext& run, const std::string& port);

// The end event of a session: its result, exit code, failed step and block, the system's
// reason, the counts and the time.
std::string endEventJson(const PortResult& result);

// The --log file for `port`: PATH itself for one port, else PATH with the port's last name
// before its extension ("run.log" and /dev/ttyUSB0: "run.ttyUSB0.log").
std::string logPathFor(const std::string& path, const std::string& port, bool perPort);

}  // namespace kestrel
