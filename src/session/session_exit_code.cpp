#include "session/session_exit_code.h"

namespace kestrel {

int exitCodeOf(const SessionOutcome& outcome) {
    switch (outcome.result) {
        case SessionResult::Succeeded:
            return 0;
        case SessionResult::PortNotOpened:
            return 3;
        case SessionResult::ImageUnreadable:
            return 4;
        case SessionResult::DownloadModeNotEntered:
        case SessionResult::UsbPortNotReopened:
        case SessionResult::NoStartSignal:
            return 5;
        case SessionResult::TransferFailed:
            return 6;
        case SessionResult::HandBackFailed:
            return 7;
        case SessionResult::Interrupted:
            return stopExitCode(outcome.stoppedBy);
    }
    return 1;
}

}  // namespace kestrel
