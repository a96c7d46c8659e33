// One firmware update, from the operator's fields to the final status text.
#pragma once

#include "image/firmware_image.h"
#include "serial/port_guard.h"
#include "serial/port_locator.h"
#include "serial/port_lock.h"
#include "serial/serial_port.h"
#include "session/rate_journal.h"
#include "session/session_outcome.h"
#include "session/status_reporter.h"
#include "session/stop_request.h"

namespace kestrel {

// What a session works with. Port and image are closed on entry and on return.
struct SessionParts {
    SerialPort& port;
    FirmwareImage& image;
    PortLock* lock = nullptr;           // none: the port is not claimed beyond its open
    RateJournal* journal = nullptr;     // none: a moved rate is not remembered across a crash
    PortGuard* guard = nullptr;         // none: other programs of the host are not kept off
    PortLocator* locator = nullptr;     // none: a USB port is sought under its own name only
    const StopRequest* stop = nullptr;  // none: the session is never stopped
};

// Runs one whole update on the calling (worker) thread: takes the snapshot from `host`,
// claims and opens the port, opens the image, enters download mode, waits for the start
// signal, transfers every record, hands the module back and reports. On every way out it
// closes port and image, gives the claim up and calls host.enableStart(). Sessions with parts
// of their own may run at the same time on other threads.
// A stop request (parts.stop, set from any thread or a signal handler) ends it with the result
// Interrupted: at level Finish the way a failure does (before the transfer nothing more is
// sent; during it the block in flight settles, no further block goes out and the hand-back
// runs); at level AtOnce every wait ends and the hand-back is skipped. A stop that comes after
// the last block was accepted changes nothing at level Finish.
SessionOutcome runUpdateSession(SessionHost& host, const SessionParts& parts);

// The same with the platform's own serial device, the system clock and the image behind the
// running program's own file; `stop` as in SessionParts.
SessionOutcome runUpdateSession(SessionHost& host, const StopRequest* stop = nullptr);

}  // namespace kestrel
