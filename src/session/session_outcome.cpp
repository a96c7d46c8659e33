#include "session/session_outcome.h"

namespace kestrel {

const char* describeResult(SessionResult result) {
    switch (result) {
        case SessionResult::Succeeded:
            return "succeeded";
        case SessionResult::PortNotOpened:
            return "port not opened";
        case SessionResult::ImageUnreadable:
            return "firmware image unreadable";
        case SessionResult::DownloadModeNotEntered:
            return "download mode not entered";
        case SessionResult::UsbPortNotReopened:
            return "USB port not reopened";
        case SessionResult::NoStartSignal:
            return "no start signal";
        case SessionResult::TransferFailed:
            return "transfer failed";
        case SessionResult::HandBackFailed:
            return "hand-back failed";
    }
    return "unknown result";
}

}  // namespace kestrel
