// Every status text a session shows, in one place. The operators' instructions and scripts
// quote these texts, typos included: change none of them.
#pragma once

#include <cstddef>

namespace kestrel::status {

// Every failure's text begins so; front ends that show errors apart look for it.
constexpr char kErrorPrefix[] = "ERROR: ";
inline bool isError(const char* text) {
    for (size_t i = 0; kErrorPrefix[i] != '\0'; ++i)
        if (text[i] != kErrorPrefix[i]) return false;
    return true;
}

constexpr char kCannotOpenPort[] = "ERROR: Cannot open COM-Port.";
constexpr char kCannotOpenImage[] = "ERROR: Cannot open Firmware-File.";
constexpr char kNotDetected[] =
    "WARNING: AT-Command-Mode not detected (trying fall back with 57600).";
constexpr char kCannotReopenUsb[] = "ERROR: Cannot reopen USB port.";
constexpr char kUsbReturnedAs[] = "INFO: USB port returned as %s.";
constexpr char kWaitingForStart[] = "Waiting for start signal.";
constexpr char kStartTimeout[] = "ERROR: timout waiting for start character.";
constexpr char kInvalidStartWarning[] =
    "WARNING: invalid start acknowledgement (0x%02x) received (Try %d)";
constexpr char kInvalidStartError[] =
    "ERROR: invalid start acknowledgement (0x%02x) received (Try %d)";
constexpr char kInProgress[] = "Firmware download in progress.";
constexpr char kAnswerTimeout[] = "ERROR: Timout waiting fo response after block no.%d";
constexpr char kTooManyRetries[] = "ERROR: too many retries in block %d.";
constexpr char kVersionConflict[] =
    "ERROR: fatal response (0x%02x) to block %d, possible version conflict.";
constexpr char kFatalAnswer[] = "ERROR: unexpected or fatal response (0x%02x) to block %d.";
constexpr char kTransferDone[] = "Download succeeded, finishing update process.";
constexpr char kSucceeded[] = "Download succeeded.";
// The front end asked the session to stop (Ctrl-C, SIGTERM); the update is not complete.
constexpr char kInterrupted[] = "ERROR: Update interrupted.";
constexpr char kCannotSendDownload[] = "ERROR: Cannot send download command.";
constexpr char kOriginalRate[] = "INFO: original baudrate = %d";
// Only after an earlier session died with the module's rate moved.
constexpr char kJournalledRate[] =
    "INFO: original baudrate = %d (remembered from an interrupted update)";
constexpr char kJournalIgnored[] = "WARNING: rate journal of an earlier update ignored (%s).";
constexpr char kCannotRestorePort[] =
    "ERROR: cannot access COM port to change back to original baudrate.";
constexpr char kCannotRestoreAt[] =
    "ERROR: cannot enter AT command mode change back to original baudrate.";
constexpr char kCannotFinishBlockUpdate[] =
    "ERROR: cannot access COM port to perform block update.";

}  // namespace kestrel::status
