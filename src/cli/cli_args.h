// kestrel-cli's command line, turned into the fields a session reads.
#pragma once

#include <cstdio>

#include "session/session_settings.h"

namespace kestrel {

enum class CliCommand { Run, Help, Version, UsageError };

// Fills `fields` from argv[1..]: --port NAME (required), --rate TEXT (default "115200",
// kept as text: the session converts it as it does the window's), --usb, --no-firmware,
// --firmware-name NAME; "--opt=value" works too. Texts are cut at 259 characters, as in the
// window's fields. On UsageError `error` says what is wrong.
CliCommand parseCliArgs(int argc, const char* const* argv, SessionFields* fields,
                        char (&error)[kTextCapacity]);

void printCliUsage(FILE* out);

}  // namespace kestrel
