#include "modem/module_commands.h"
#include "session/session_phases.h"

namespace kestrel {

void enterDownloadModeBlind(Session& s) {
    s.port.closePort();
    s.clock.sleepMs(5000);
    // Not examined: on a port that did not open, the restart and the command reach no device.
    s.port.openPort(s.portName, 57600, s.usbMode);
    s.port.restartModule();
    sendBlindDownloadCommand(s.port);
    s.fallbackUsed = true;
}

}  // namespace kestrel
