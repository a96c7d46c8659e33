// kestrel-cli's command line, turned into the fields each session reads and the front end's
// own choices (ports, output format, station, transcript).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "session/session_settings.h"

namespace kestrel {

enum class CliCommand { Run, Check, Station, List, Help, Version, ImageInfo, UsageError };

struct CliOptions {
    SessionFields fields;            // every session's fields; portName is the first port
    std::vector<std::string> ports;  // each --port in the order given, each at most 259 chars
    bool json = false;               // JSON Lines on standard output
    std::string station;             // --station: the glob of device paths to watch
    bool includePresent = false;     // --include-present: a station takes ports present at start
    uint32_t quietTimeMs = 10000;    // --quiet-time: how long a finished unit's port must be gone
    std::string logPath;             // --log: the transcript file (one per port when several)
};

// Fills `options` from argv[1..]. Session options: --rate RATE (default "115200"; only a
// rate a module takes, written as a plain whole number), --usb, --no-firmware,
// --firmware-name NAME; "--opt=value" works too. Texts are cut at 259 characters, as in the
// window's fields. On UsageError `error` says what is wrong.
CliCommand parseCliArgs(int argc, const char* const* argv, CliOptions* options,
                        char (&error)[kTextCapacity]);

void printCliUsage(FILE* out);

}  // namespace kestrel
