#include <cstdio>
#include <cstring>

#include "modem/at_command.h"
#include "modem/baud_detect.h"
#include "serial/serial_port.h"
#include "session/session_phases.h"
#include "session/status_text.h"

namespace kestrel {

namespace {

// Asks the module for its configured rate. False when the reply does not say; a reported
// rate is taken whatever its value (even -1).
bool queryModuleRate(int32_t* rate) {
    char reply[kReplyCapacity];
    sendAtCommand("AT+IPR?\r", reply, sizeof reply);
    // Blank lines and spaces before the information line are noise; a short reply is kept.
    const char* p = reply;
    size_t n = std::strlen(p);
    while (n > 8 && (*p == ' ' || *p == '\r' || *p == '\n')) {
        ++p;
        --n;
    }
    if (std::strncmp(p, "+IPR: ", 6) != 0) return false;
    *rate = convertRateText(p + 6);
    return true;
}

}  // namespace

EntryResult enterDownloadMode(Session& s) {
    const int32_t detected = detectBaudRate(s.requestedRate);
    if (detected == -1) return EntryResult::NotDetected;

    // On the USB virtual port the rate means nothing to the module: leave it alone.
    if (!s.usbMode) {
        if (queryModuleRate(&s.originalRate))
            reportf(*s.reporter, "INFO: original baudrate = %d", s.originalRate);
        if (s.requestedRate != detected) {
            char command[32];
            std::snprintf(command, sizeof command, "AT+IPR=%d\r", s.requestedRate);
            char reply[kReplyCapacity];
            sendAtCommand(command, reply, sizeof reply);
            setBaudRate(static_cast<uint32_t>(s.requestedRate));
        }
        purgePort();
    }

    char reply[kReplyCapacity];
    if (!sendAtCommand("AT^SFDL\r", reply, sizeof reply)) {
        s.reporter->setStatus("ERROR: Cannot send download command.");
        return EntryResult::Failed;
    }
    return EntryResult::Entered;
}

}  // namespace kestrel
