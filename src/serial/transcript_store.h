// Keeping the transcript of a session that failed, for support, when no --log file did: a new
// file in the state folder named after the port and the time, and only the newest few kept.
#pragma once

#include <cstddef>
#include <string>

#include "platform/system_error.h"
#include "serial/transcript.h"

namespace kestrel {

constexpr int kKeptTranscripts = 10;

// Writes what `transcript` holds into a new file in `folder` (null: the state folder, made
// when missing) named kestrel-PORT-YYYYmmdd-HHMMSS-PID.log, PORT being the last part of the
// port's name with every character but letters, digits, '.', '-' and '_' made '_'; then
// removes the oldest files of that form beyond `keep`, the new one counted. `pathOut` gets
// the new file's path. False with the reason when nothing was saved; an old file that
// cannot be removed stays.
// The last part of a port's name as a file name may hold it: "/dev/serial/by-id/usb-X-if00"
// gives "usb-X-if00", "\\.\COM5" gives "COM5"; every character but letters, digits, '.', '-'
// and '_' made '_', at most 64 of them, never empty or dots alone.
std::string portPart(const char* port);

bool saveRing(const Transcript& transcript, const char* port, const char* folder, char* pathOut,
              size_t capacity, SystemError* why, int keep = kKeptTranscripts);

}  // namespace kestrel
