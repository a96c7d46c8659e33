// kestrel-cli's command line, turned into the fields a session reads.
#pragma once

#include <cstdio>

#include "session/session_settings.h"

namespace kestrel {

enum class CliCommand { Run, Check, Help, Version, ImageInfo, UsageError };

// Fills `fields` from argv[1..]: --port NAME (required), --rate RATE (default "115200"; only
// a rate a module takes, written as a plain whole number), --usb, --no-firmware,
// --firmware-name NAME; "--opt=value" works too. Texts are cut at 259 characters, as in the
// window's fields. On UsageError `error` says what is wrong.
CliCommand parseCliArgs(int argc, const char* const* argv, SessionFields* fields,
                        char (&error)[kTextCapacity]);

void printCliUsage(FILE* out);

}  // namespace kestrel
