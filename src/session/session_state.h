// The state of one running session, shared by its phases (entry, transfer, hand-back), and
// the port, image and front end it works with.
#pragma once

#include <cstdint>

#include "image/firmware_image.h"
#include "serial/serial_port.h"
#include "session/rate_journal.h"
#include "session/session_outcome.h"
#include "session/session_settings.h"
#include "session/status_reporter.h"
#include "session/stop_request.h"

namespace kestrel {

struct Session {
    Session(SerialPort& p, FirmwareImage& i, StatusReporter& r)
        : port(p), image(i), clock(p.clock()), reporter(r) {}

    SerialPort& port;
    FirmwareImage& image;
    Clock& clock;
    StatusReporter& reporter;
    RateJournal* journal = nullptr;
    const StopRequest* stop = nullptr;  // none: the session is never stopped
    const char* portIdentity = "";      // the port's stable name, for the journal
    char portName[kTextCapacity] = {};  // as the operator named it, for every open
    int32_t requestedRate = 0;
    bool usbMode = false;
    bool noFirmware = false;
    bool blockUpdateMode = false;  // firmware name ends in ".uusf"
    int32_t totalBlocks = 0;
    bool fallbackUsed = false;
    bool startUnconfirmed = false;  // the transfer began on the try limit, not a start byte
    int32_t originalRate = -1;      // the module's own rate, -1 until it reports it
    bool failed = false;            // the block transfer ended in an error
    int32_t blockIndex = 0;
    int32_t resendCount = 0;
    uint8_t lastAnswer = 0;        // the loader's last answer taken (0x01 next, 0x02 again)
    int32_t lastAnswerBlock = -1;  // the block it answered, -1 before the first answer
    bool interrupted = false;      // a stop request ended the session
    SessionOutcome outcome;
};

// Whether the front end asked this session to stop, at any level.
inline bool stopAsked(const Session& s) {
    return s.stop != nullptr && s.stop->level() != StopLevel::None;
}

}  // namespace kestrel
