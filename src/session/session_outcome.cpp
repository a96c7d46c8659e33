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
        case SessionResult::Interrupted:
            return "interrupted";
    }
    return "unknown result";
}

const char* resultName(SessionResult result) {
    switch (result) {
        case SessionResult::Succeeded:
            return "succeeded";
        case SessionResult::PortNotOpened:
            return "port-not-opened";
        case SessionResult::ImageUnreadable:
            return "image-unreadable";
        case SessionResult::DownloadModeNotEntered:
            return "download-mode-not-entered";
        case SessionResult::UsbPortNotReopened:
            return "usb-port-not-reopened";
        case SessionResult::NoStartSignal:
            return "no-start-signal";
        case SessionResult::TransferFailed:
            return "transfer-failed";
        case SessionResult::HandBackFailed:
            return "hand-back-failed";
        case SessionResult::Interrupted:
            return "interrupted";
    }
    return "unknown";
}

const char* blockFailureName(BlockFailure failure) {
    switch (failure) {
        case BlockFailure::None:
            return "none";
        case BlockFailure::NoAnswer:
            return "no-answer";
        case BlockFailure::TooManyRetries:
            return "too-many-retries";
        case BlockFailure::FatalAnswer:
            return "fatal-answer";
        case BlockFailure::ImageBroken:
            return "image-broken";
        case BlockFailure::StrayAnswer:
            return "stray-answer";
    }
    return "unknown";
}

}  // namespace kestrel
