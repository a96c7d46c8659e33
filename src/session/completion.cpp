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
        s.clock.sleepMs(1000);
        if (!s.port.openPort(s.portName, static_cast<uint32_t>(s.requestedRate), false)) {
            s.reporter.setStatus(status::kCannotRestorePort);
            s.outcome.reason = s.port.lastError();
            return false;
        }
        if (detectBaudRate(s.port, s.requestedRate) == -1) continue;

        moveModuleRate(s.port, s.originalRate);
        s.port.setBaudRate(static_cast<uint32_t>(s.originalRate));
        s.clock.sleepMs(1000);
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
    s.clock.sleepMs(1000);
    if (!s.port.openPort(s.portName, static_cast<uint32_t>(s.requestedRate), false)) {
        s.reporter.setStatus(status::kCannotFinishBlockUpdate);
        s.outcome.reason = s.port.lastError();
        return false;
    }
    s.port.restartModule();
    s.clock.sleepMs(5000);
    s.port.closePort();
    return true;
}

}  // namespace

bool completeSession(Session& s) {
    if (s.blockUpdateMode && !s.usbMode) return finishBlockUpdate(s);
    if (s.originalRate != -1 && s.originalRate != s.requestedRate && !s.usbMode)
        return restoreOriginalRate(s);
    return true;
}

}  // namespace kestrel
