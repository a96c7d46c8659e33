#include "image/firmware_image.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "session/session_phases.h"
#include "session/status_text.h"

namespace kestrel {

namespace {

constexpr uint32_t kStartSignalTimeoutMs = 20000;
constexpr uint32_t kAnswerTimeoutMs = 5000;
constexpr int kMaxResends = 10;

constexpr uint8_t kStart = 0x01;
constexpr uint8_t kNext = 0x01;
constexpr uint8_t kAgain = 0x02;
constexpr uint8_t kBusy = 0x04;

enum class Answer { Accepted, Failed };

// Sends one record and waits for the loader's verdict, resending while it asks for it.
Answer sendRecord(Session& s, const uint8_t* wire, uint16_t wireLength) {
    StatusReporter& r = *s.reporter;
    for (;;) {
        writeBytes(wire, wireLength);
        uint8_t answer = 0;
        do {
            // A busy loader may take as long as it needs, one 5000 ms wait at a time.
            if (!readByteTimed(&answer, kAnswerTimeoutMs)) {
                reportf(r, "ERROR: Timout waiting fo response after block no.%d", s.blockIndex);
                return Answer::Failed;
            }
        } while (answer == kBusy);

        if (answer == kNext) return Answer::Accepted;
        if (answer == kAgain) {
            if (++s.resendCount > kMaxResends) {
                reportf(r, "ERROR: too many retries in block %d.", s.blockIndex);
                return Answer::Failed;
            }
            continue;
        }
        if (s.blockIndex == 4)
            reportf(r, "ERROR: fatal response (0x%02x) to block %d, possible version conflict.",
                    answer, s.blockIndex);
        else
            reportf(r, "ERROR: unexpected or fatal response (0x%02x) to block %d.", answer,
                    s.blockIndex);
        return Answer::Failed;
    }
}

}  // namespace

bool awaitStartSignal(Session& s) {
    StatusReporter& r = *s.reporter;
    r.setStatus("Waiting for start signal.");
    const int limit = s.fallbackUsed ? 22 : 19;
    for (int tries = 1;; ++tries) {
        uint8_t b = 0;
        const int got = s.usbMode ? readByteTimed(&b, kStartSignalTimeoutMs)
                                  : readByteChecked(&b, kStartSignalTimeoutMs);
        if (!got) {
            r.setStatus("ERROR: timout waiting for start character.");
            return false;
        }
        if (b == kStart) return true;
        if (tries < limit) {
            reportf(r, "WARNING: invalid start acknowledgement (0x%02x) received (Try %d)", b,
                    tries);
        } else {
            // The transfer still begins: the loader may be ready all the same.
            reportf(r, "ERROR: invalid start acknowledgement (0x%02x) received (Try %d)", b, tries);
            return true;
        }
    }
}

void transferBlocks(Session& s) {
    StatusReporter& r = *s.reporter;
    r.setStatus("Firmware download in progress.");
    // The length byte and the payload leave in one write, exactly as stored.
    uint8_t wire[1 + kMaxRecordPayload];
    for (s.blockIndex = 0;; ++s.blockIndex) {
        uint8_t length = 0;
        if (!readRecord(wire + 1, &length)) {
            // Fewer records than counted means the image broke while being read: the module
            // did not get the whole firmware, so this must not pass for success.
            if (s.blockIndex < s.totalBlocks) {
                r.setStatus("ERROR: Cannot open Firmware-File.");
                s.failed = true;
            } else {
                r.setStatus("Download succeeded, finishing update process.");
            }
            return;
        }
        wire[0] = length;
        s.resendCount = 0;
        const int32_t floor = s.totalBlocks / 30;
        r.setProgressPosition(s.blockIndex > floor ? s.blockIndex : floor);
        if (sendRecord(s, wire, static_cast<uint16_t>(length + 1)) == Answer::Failed) {
            s.failed = true;
            ++s.blockIndex;
            return;
        }
    }
}

}  // namespace kestrel
