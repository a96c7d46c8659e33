#include "platform/clock.h"
#include "serial/serial_port.h"
#include "session/session_phases.h"

namespace kestrel {

void enterDownloadModeBlind(Session& s) {
    closePort();
    sleepMs(5000);
    // Not examined: on a port that did not open, the restart and the command reach no device.
    openPort(s.devicePath, 57600, s.usbMode);
    restartModule();
    static const uint8_t kDownloadCommand[] = {'A', 'T', '^', 'S', 'F', 'D', 'L', '\r'};
    writeBytes(kDownloadCommand, sizeof kDownloadCommand);
    s.fallbackUsed = true;
}

}  // namespace kestrel
