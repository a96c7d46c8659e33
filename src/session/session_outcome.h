// How one update session ended: which step failed, with the numbers and the system's reason
// that explain it. Front ends take exit codes and messages from this, never from the status
// text.
#pragma once

#include <cstdint>

#include "platform/system_error.h"
#include "session/stop_request.h"

namespace kestrel {

enum class SessionResult : uint8_t {
    Succeeded,
    PortNotOpened,           // the port could not be opened: the module was not touched
    ImageUnreadable,         // no image, or a damaged one: nothing was sent
    DownloadModeNotEntered,  // the download command was not accepted
    UsbPortNotReopened,      // the USB port did not come back after the download command
    NoStartSignal,           // the loader never sent its start signal
    TransferFailed,          // a block was refused or unanswered, or the image broke
    HandBackFailed,          // every block accepted, but the module was not handed back
    Interrupted,             // a stop request ended the session (before any failure did)
};

enum class BlockFailure : uint8_t {
    None,
    NoAnswer,        // the answer timed out
    TooManyRetries,  // the loader asked for the block again too often
    FatalAnswer,     // an answer byte the protocol does not know
    ImageBroken,     // the image ended before its counted records
    StrayAnswer,     // a byte more than the answers after the last block
};

struct SessionOutcome {
    SessionResult result = SessionResult::Succeeded;
    BlockFailure blockFailure = BlockFailure::None;
    // Zero-based index of the failed block, -1 when none. Interrupted during the transfer:
    // the first block the loader did not accept.
    int32_t blockIndex = -1;
    int answerByte = -1;          // the failed block's last answer, -1 when none came
    bool handBackFailed = false;  // also set when the transfer had failed before it
    SystemError reason;           // the system's reason, where there is one
    StopSignal stoppedBy = StopSignal::Interrupt;  // who asked, when Interrupted
    // What went over the line for the transfer, resends included, and how long it took.
    int32_t recordsSent = 0;
    uint32_t bytesSent = 0;
    uint32_t transferMs = 0;

    bool succeeded() const { return result == SessionResult::Succeeded; }
};

// A short English name of the result ("port not opened"), for logs and messages.
const char* describeResult(SessionResult result);

// Short stable names for machine-read output ("port-not-opened", "no-answer"); they never
// change once given.
const char* resultName(SessionResult result);
const char* blockFailureName(BlockFailure failure);

}  // namespace kestrel
