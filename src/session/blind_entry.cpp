#include "modem/module_commands.h"
#include "session/session_phases.h"
#include "session/status_texts.h"

namespace kestrel {

bool enterDownloadModeBlind(Session& s) {
    s.port.closePort();
    if (!pause(s, 5000)) {
        noteInterrupted(s);
        return false;
    }
    // A port that does not open again reaches no module: say so now, rather than wait out
    // the start signal that cannot come.
    if (!s.port.openPort(s.portName, 57600, s.usbMode)) {
        s.reporter.setStatus(status::kCannotOpenPort);
        s.outcome.result = SessionResult::DownloadModeNotEntered;
        s.outcome.reason = s.port.lastError();
        return false;
    }
    s.port.restartModule();
    // The restart may have been cut short by a stop: then no download command follows.
    if (s.port.stopRequested()) {
        noteInterrupted(s);
        return false;
    }
    sendBlindDownloadCommand(s.port);
    s.fallbackUsed = true;
    return true;
}

}  // namespace kestrel
