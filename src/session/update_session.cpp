#include "session/update_session.h"

#include <cstring>

#include "session/session_phases.h"
#include "session/status_text.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

// A firmware name ending in ".uusf" (any case, and more than just that) asks for a block
// update.
bool namesBlockUpdate(const char* name) {
    const size_t n = strnlen(name, kTextCapacity - 1);
    if (n <= 5) return false;
    static const char kSuffix[] = ".uusf";
    for (size_t i = 0; i < 5; ++i) {
        char c = name[n - 5 + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kSuffix[i]) return false;
    }
    return true;
}

// The loader re-enumerates on USB: each attempt tries the operator's name, then the
// module's physical place, where the port may have come back under another name.
bool reopenUsbPort(Session& s, PortLocator* locator) {
    const bool placeKnown = locator != nullptr && locator->remember(s.portName);
    s.port.closePort();
    const bool waited = pause(s, 2000);
    const uint32_t rate = static_cast<uint32_t>(s.requestedRate);
    for (int attempt = 0; attempt < 80; ++attempt) {
        if (!waited || !pause(s, 100)) {
            noteInterrupted(s);
            return false;
        }
        if (s.port.openPort(s.portName, rate, s.usbMode)) return true;
        char returned[kTextCapacity];
        if (placeKnown && locator->findReturned(returned, sizeof returned) &&
            s.port.openPort(returned, rate, s.usbMode)) {
            reportf(s.reporter, status::kUsbReturnedAs, returned);
            return true;
        }
    }
    s.reporter.setStatus(status::kCannotReopenUsb);
    s.outcome.result = SessionResult::UsbPortNotReopened;
    s.outcome.reason = s.port.lastError();
    return false;
}

bool openImageFor(Session& s, const SessionSettings& settings) {
    StatusReporter& r = s.reporter;
    if (!s.image.openImage(settings.firmwareName)) {
        s.port.closePort();
        r.setStatus(status::kCannotOpenImage);
        return false;
    }
    s.blockUpdateMode = namesBlockUpdate(settings.firmwareName);
    s.totalBlocks = s.image.countRecords();
    // A damaged image must never reach the module: refuse it before anything is sent.
    if (s.image.imageIsTruncated()) {
        r.setStatus(status::kCannotOpenImage);
        return false;
    }
    return true;
}

// Steps from the opened port to the final report; returns when the session ends.
void runOpenedSession(Session& s, const SessionSettings& settings, PortLocator* locator) {
    StatusReporter& r = s.reporter;
    if (!openImageFor(s, settings)) {
        s.outcome.result = SessionResult::ImageUnreadable;
        s.outcome.reason = s.image.lastError();
        return;
    }
    // The full count, not a 16-bit one: a bar for more than 65535 blocks must still fill.
    r.setProgressRange(s.totalBlocks);
    r.setProgressPosition(0);
    enterPhase(s, SessionPhase::Entry);
    if (!pause(s, 1000)) {
        noteInterrupted(s);
        return;
    }

    if (s.noFirmware) {
        if (!enterDownloadModeBlind(s)) return;
    } else {
        switch (enterDownloadMode(s)) {
            case EntryResult::Entered:
                break;
            case EntryResult::Failed:
                return;
            case EntryResult::NotDetected:
                r.setStatus(status::kNotDetected);
                if (!enterDownloadModeBlind(s)) return;
                break;
        }
    }
    if (s.usbMode && !s.noFirmware && !reopenUsbPort(s, locator)) return;
    enterPhase(s, SessionPhase::StartSignal);
    if (!awaitStartSignal(s)) return;

    enterPhase(s, SessionPhase::Transfer);
    const uint32_t transferStart = s.clock.nowMs();
    transferBlocks(s);
    s.outcome.transferMs = s.clock.elapsedSince(transferStart);
    // A stop "at once" leaves the module as the transfer left it.
    bool handedBack = false;
    if (!s.port.stopRequested()) {
        enterPhase(s, SessionPhase::HandBack);
        handedBack = completeSession(s);
    }
    // A hand-back skipped or cut short by a stop "at once" was the stop's doing.
    if (!handedBack && !s.failed && s.port.stopRequested()) noteInterrupted(s);
    if (s.failed)
        s.outcome.result = SessionResult::TransferFailed;
    else if (s.interrupted)
        s.outcome.result = SessionResult::Interrupted;
    else if (!handedBack)
        s.outcome.result = SessionResult::HandBackFailed;
    s.outcome.handBackFailed = !handedBack;
    if (s.outcome.succeeded()) r.setStatus(status::kSucceeded);
    r.setProgressPosition(s.totalBlocks);
}

// Claims the port, keeps the host's probers off it, and opens it; on failure the status
// and the outcome say why. The claim holds from before the first open to after the last
// close, so no other session can take the module while this one has its port closed on the
// way; the guard comes before the open, so a prober that has the port lets go first.
bool claimAndOpenPort(Session& s, const SessionParts& parts) {
    if (parts.lock != nullptr) {
        if (!parts.lock->acquire(s.portName, &s.outcome.reason)) {
            s.reporter.setStatus(status::kCannotOpenPort);
            s.outcome.result = SessionResult::PortNotOpened;
            return false;
        }
        s.portIdentity = parts.lock->identity();
    }
    if (parts.guard != nullptr) parts.guard->guard(s.portName);
    if (!s.port.openPort(s.portName, static_cast<uint32_t>(s.requestedRate), s.usbMode)) {
        s.reporter.setStatus(status::kCannotOpenPort);
        s.outcome.result = SessionResult::PortNotOpened;
        s.outcome.reason = s.port.lastError();
        return false;
    }
    return true;
}

}  // namespace

SessionOutcome runUpdateSession(SessionHost& host, const SessionParts& parts) {
    SessionFields fields;
    host.readFields(&fields);
    const SessionSettings settings = takeSnapshot(fields);

    SerialPort& port = parts.port;
    FirmwareImage& image = parts.image;
    Session s(port, image, host);
    s.journal = parts.journal;
    s.stop = parts.stop;
    copyText(s.portName, settings.portName);
    s.portIdentity = s.portName;
    s.requestedRate = settings.rate;
    s.usbMode = settings.usb;
    s.noFirmware = settings.noFirmware;

    host.setStatus("");
    if (stopAsked(s))
        noteInterrupted(s);  // asked before it began: the port is not even claimed
    else if (claimAndOpenPort(s, parts))
        runOpenedSession(s, settings, parts.locator);
    // Every way out releases port, image and claim, and gives START back.
    port.watchStop(nullptr);
    port.closePort();
    image.closeImage();
    if (parts.guard != nullptr) parts.guard->release();
    if (parts.lock != nullptr) parts.lock->release();
    host.enableStart();
    return s.outcome;
}

}  // namespace kestrel
