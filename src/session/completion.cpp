#include <cstdio>

#include "modem/at_command.h"
#include "modem/baud_detect.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "session/session_phases.h"

namespace kestrel {

namespace {

constexpr int kRestoreAttempts = 5;

// Moves the module back to the rate it had before the update and switches it off.
bool restoreOriginalRate(Session& s) {
    for (int attempt = 0; attempt < kRestoreAttempts; ++attempt) {
        closePort();
        sleepMs(1000);
        if (!openPort(s.devicePath, static_cast<uint32_t>(s.requestedRate), false)) {
            s.reporter->setStatus(
                "ERROR: cannot access COM port to change back to original baudrate.");
            return false;
        }
        if (detectBaudRate(s.requestedRate) == -1) continue;

        char command[32];
        std::snprintf(command, sizeof command, "AT+IPR=%d\r", s.originalRate);
        char reply[kReplyCapacity];
        sendAtCommand(command, reply, sizeof reply);
        setBaudRate(static_cast<uint32_t>(s.originalRate));
        sleepMs(1000);
        sendAtCommand("AT^SMSO\r", reply, sizeof reply);
        return true;
    }
    s.reporter->setStatus("ERROR: cannot enter AT command mode change back to original baudrate.");
    return false;
}

// After a block update the module only needs a restart to run its updated firmware.
bool finishBlockUpdate(Session& s) {
    closePort();
    sleepMs(1000);
    if (!openPort(s.devicePath, static_cast<uint32_t>(s.requestedRate), false)) {
        s.reporter->setStatus("ERROR: cannot access COM port to perform block update.");
        return false;
    }
    restartModule();
    sleepMs(5000);
    closePort();
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
