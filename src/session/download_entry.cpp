#include "modem/baud_detect.h"
#include "modem/module_commands.h"
#include "session/session_phases.h"
#include "session/status_text.h"
#include "session/status_texts.h"

namespace kestrel {

EntryResult enterDownloadMode(Session& s) {
    const int32_t detected = detectBaudRate(s.port, s.requestedRate);
    if (detected == -1) return EntryResult::NotDetected;

    // On the USB virtual port the rate means nothing to the module: leave it alone.
    if (!s.usbMode) {
        if (queryModuleRate(s.port, &s.originalRate))
            reportf(s.reporter, status::kOriginalRate, s.originalRate);
        if (s.requestedRate != detected) {
            moveModuleRate(s.port, s.requestedRate);
            s.port.setBaudRate(static_cast<uint32_t>(s.requestedRate));
        }
        s.port.purgePort();
    }

    if (!requestDownloadMode(s.port)) {
        s.reporter.setStatus(status::kCannotSendDownload);
        s.outcome.result = SessionResult::DownloadModeNotEntered;
        return EntryResult::Failed;
    }
    return EntryResult::Entered;
}

}  // namespace kestrel
