#include "modem/baud_detect.h"
#include "modem/module_commands.h"
#include "session/session_phases.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

constexpr int kRestoreAttempts = 5;

// Moves the module back to the rate it had before the update and switches it off.
bool restoreOriginalRate(Session& s) {
    for (int attempt = 0; attempt < kRestoreAttempts; ++attempt) {
        s.port.closePort();
        if (!pause(s, 1000)) return false;
        if (!s.port.openPort(s.portName, static_cast<uint32_t>(s.requestedRate), false)) {
            s.reporter.setStatus(status::kCannotRestorePort);
            s.outcome.reason = s.port.lastError();
            return false;
        }
        const int32_t detected = detectBaudRate(s.port, s.requestedRate);
        if (s.port.stopRequested()) return false;
        if (detected == -1) continue;

        moveModuleRate(s.port, s.originalRate);
        s.port.setBaudRate(static_cast<uint32_t>(s.originalRate));
        if (!pause(s, 1000)) return false;
        switchModuleOff(s.port);
        // The module has its own rate back: nothing left to remember.
        if (s.journal != nullptr) s.journal->remove(s.portIdentity);
        return true;
    }
    s.reporter.setStatus(status::kCannotRestoreAt);
    return false;
}

// After a block update the module only needs a restart to run its updated firmware.
bool finishBlockUpdate(Session& s) {
    s.port.closePort();
    if (!pause(s, 1000)) return false;
    if (!s.port.openPort(s.portName, static_cast<uint32_t>(s.requestedRate), false)) {
        s.reporter.setStatus(status::kCannotFinishBlockUpdate);
        s.outcome.reason = s.port.lastError();
        return false;
    }
    s.port.restartModule();
    const bool settled = pause(s, 5000);
    s.port.closePort();
    return settled && !s.port.stopRequested();
}

}  // namespace

bool completeSession(Session& s) {
    const bool blockUpdate = s.blockUpdateMode && !s.usbMode;
    const bool rateMoved = s.originalRate != -1 && s.originalRate != s.requestedRate && !s.usbMode;
    if (!blockUpdate && !rateMoved) return true;
    // Ended at once: the module stays as the transfer left it.
    if (s.port.stopRequested()) return false;
    return blockUpdate ? finishBlockUpdate(s) : restoreOriginalRate(s);
}

}  // namespace kestrel
