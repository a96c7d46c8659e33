#include "platform/own_file.h"
#include "session/update_session.h"

namespace kestrel {

SessionOutcome runUpdateSession(SessionHost& host, const StopRequest* stop) {
    char programPath[kReasonPathCapacity];
    // Without its own path the image reader opens nothing and says why.
    if (!ownProgramPath(programPath, sizeof programPath)) programPath[0] = '\0';
    FirmwareImage image(programPath);
    const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
    SerialPort port(*os, systemClock());
    const std::unique_ptr<PortLock> lock = createPlatformPortLock();
    const std::unique_ptr<RateJournal> journal = createPlatformRateJournal();
    const std::unique_ptr<PortGuard> guard = createPlatformPortGuard();
    const std::unique_ptr<PortLocator> locator = createPlatformPortLocator();
    return runUpdateSession(
        host, {port, image, lock.get(), journal.get(), guard.get(), locator.get(), stop});
}

}  // namespace kestrel
