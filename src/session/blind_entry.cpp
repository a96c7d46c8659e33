#include "modem/module_commands.h"
#include "session/session_phases.h"
#include "session/status_texts.h"

namespace kestrel {

bool enterDownloadModeBlind(Session& s) {
    s.port.closePort();
    s.clock.sleepMs(5000);
    // A port that does not open again reaches no module: say so now, rather than wait out
    // the start signal that cannot come.
    if (!s.port.openPort(s.portName, 57600, s.usbMode)) {
        s.reporter.setStatus(status::kCannotOpenPort);
        s.outcome.result = SessionResult::DownloadModeNotEntered;
        s.outcome.reason = s.port.lastError();
        return false;
    }
    s.port.restartModule();
    sendBlindDownloadCommand(s.port);
    s.fallbackUsed = true;
    return true;
}

}  // namespace kestrel
