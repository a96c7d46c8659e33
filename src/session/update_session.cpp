#include "session/update_session.h"

#include <cstring>

#include "image/firmware_image.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "session/session_phases.h"

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

bool reopenUsbPort(Session& s) {
    closePort();
    sleepMs(2000);
    for (int attempt = 0; attempt < 80; ++attempt) {
        sleepMs(100);
        if (openPort(s.devicePath, static_cast<uint32_t>(s.requestedRate), s.usbMode)) return true;
    }
    s.reporter->setStatus("ERROR: Cannot reopen USB port.");
    return false;
}

// Steps from the opened port to the final report; returns when the session ends.
void runOpenedSession(Session& s, const SessionSettings& settings) {
    StatusReporter& r = *s.reporter;
    if (!openImage(settings.firmwareName)) {
        closePort();
        r.setStatus("ERROR: Cannot open Firmware-File.");
        return;
    }
    s.blockUpdateMode = namesBlockUpdate(settings.firmwareName);
    s.totalBlocks = countRecords();
    // A damaged image must never reach the module: refuse it before anything is sent.
    if (imageIsTruncated()) {
        r.setStatus("ERROR: Cannot open Firmware-File.");
        return;
    }
    // The full count, not a 16-bit one: a bar for more than 65535 blocks must still fill.
    r.setProgressRange(s.totalBlocks);
    r.setProgressPosition(0);
    sleepMs(1000);

    if (s.noFirmware) {
        enterDownloadModeBlind(s);
    } else {
        switch (enterDownloadMode(s)) {
            case EntryResult::Entered:
                break;
            case EntryResult::Failed:
                return;
            case EntryResult::NotDetected:
                r.setStatus("WARNING: AT-Command-Mode not detected (trying fall back with 57600).");
                enterDownloadModeBlind(s);
                break;
        }
    }
    if (s.usbMode && !s.noFirmware && !reopenUsbPort(s)) return;
    if (!awaitStartSignal(s)) return;

    transferBlocks(s);
    const bool handedBack = completeSession(s);
    if (!s.failed && handedBack) r.setStatus("Download succeeded.");
    r.setProgressPosition(s.totalBlocks);
}

}  // namespace

void runUpdateSession(SessionHost& host) {
    SessionFields fields;
    host.readFields(&fields);
    const SessionSettings settings = takeSnapshot(fields);

    Session s;
    s.reporter = &host;
    normalizePortName(settings.portName, s.devicePath);
    s.requestedRate = settings.rate;
    s.usbMode = settings.usb;
    s.noFirmware = settings.noFirmware;

    host.setStatus("");
    if (!openPort(s.devicePath, static_cast<uint32_t>(s.requestedRate), s.usbMode)) {
        host.setStatus("ERROR: Cannot open COM-Port.");
    } else {
        runOpenedSession(s, settings);
    }
    // Every way out releases port and image and gives START back.
    closePort();
    closeImage();
    host.enableStart();
}

}  // namespace kestrel
