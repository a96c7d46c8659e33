// One firmware update, from the operator's fields to the final status text.
#pragma once

#include "image/firmware_image.h"
#include "serial/serial_port.h"
#include "session/session_outcome.h"
#include "session/status_reporter.h"

namespace kestrel {

// Runs one whole update on the calling (worker) thread over `port` (closed on entry) with
// `image` (closed on entry): takes the snapshot from `host`, opens port and image, enters
// download mode, waits for the start signal, transfers every record, hands the module back
// and reports. On every way out it closes port and image and calls host.enableStart().
// Sessions with objects of their own may run at the same time on other threads.
SessionOutcome runUpdateSession(SessionHost& host, SerialPort& port, FirmwareImage& image);

// The same with the platform's own serial device, the system clock and the image behind the
// running program's own file.
SessionOutcome runUpdateSession(SessionHost& host);

}  // namespace kestrel
