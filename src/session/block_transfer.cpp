#include "session/session_phases.h"
#include "session/status_text.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

constexpr uint32_t kStartSignalTimeoutMs = 20000;
constexpr uint32_t kAnswerTimeoutMs = 5000;
constexpr int kMaxResends = 10;
// After the start signal's try limit: this long without a byte, and the line counts as quiet.
constexpr uint32_t kQuietLineMs = 200;

constexpr uint8_t kStart = 0x01;
constexpr uint8_t kNext = 0x01;
constexpr uint8_t kAgain = 0x02;
constexpr uint8_t kBusy = 0x04;

enum class Answer { Accepted, Failed, Stopped };

// Sends one record and waits for the loader's verdict, resending while it asks for it.
Answer failBlock(Session& s, BlockFailure failure, int answer) {
    s.outcome.blockFailure = failure;
    s.outcome.blockIndex = s.blockIndex;
    s.outcome.answerByte = answer;
    return Answer::Failed;
}

// Before a block is written: what waits unread came after the last answer was taken. A copy
// of that answer (a bridge that doubles bytes) is dropped; any other byte means the loader
// and this transfer are out of step, and going on would write the wrong blocks. False then.
bool takeBytesSinceLastAnswer(Session& s) {
    for (uint32_t n = 0; s.port.inputWaiting(); ++n) {
        uint8_t b = 0;
        if (!s.port.readByteNow(&b)) break;
        if (b != s.lastAnswer || n >= kMaxRecordPayload) {
            reportf(s.reporter, status::kFatalAnswer, b, s.lastAnswerBlock);
            s.outcome.blockFailure = BlockFailure::StrayAnswer;
            s.outcome.blockIndex = s.lastAnswerBlock;
            s.outcome.answerByte = b;
            return false;
        }
    }
    return true;
}

Answer sendRecord(Session& s, const uint8_t* wire, uint16_t wireLength) {
    StatusReporter& r = s.reporter;
    for (;;) {
        // A stop sends nothing more, not even a block the loader asked for again.
        if (stopAsked(s)) return Answer::Stopped;
        // An answer must belong to the block just written. Before the first block whatever
        // preceded it is line noise; from then on a byte that came after an answer would
        // put the transfer one block ahead of the module.
        if (s.lastAnswerBlock < 0)
            s.port.dropInput();
        else if (!takeBytesSinceLastAnswer(s))
            return Answer::Failed;
        s.port.writeBytes(wire, wireLength);
        ++s.outcome.recordsSent;
        s.outcome.bytesSent += wireLength;
        uint8_t answer = 0;
        do {
            // A busy loader may take as long as it needs, one 5000 ms wait at a time.
            if (!s.port.readByteTimed(&answer, kAnswerTimeoutMs)) {
                if (s.port.stopRequested()) return Answer::Stopped;  // ended at once
                reportf(r, status::kAnswerTimeout, s.blockIndex);
                return failBlock(s, BlockFailure::NoAnswer, -1);
            }
        } while (answer == kBusy);
        s.lastAnswer = answer;
        s.lastAnswerBlock = s.blockIndex;

        if (answer == kNext) return Answer::Accepted;
        if (answer == kAgain) {
            if (++s.resendCount > kMaxResends) {
                reportf(r, status::kTooManyRetries, s.blockIndex);
                return failBlock(s, BlockFailure::TooManyRetries, answer);
            }
            continue;
        }
        reportf(r, s.blockIndex == 4 ? status::kVersionConflict : status::kFatalAnswer, answer,
                s.blockIndex);
        return failBlock(s, BlockFailure::FatalAnswer, answer);
    }
}

// Reads until the line has been quiet for a while or a start byte came, within the start
// signal's own limit.
void settleAfterTryLimit(Session& s) {
    const uint32_t start = s.clock.nowMs();
    uint8_t b = 0;
    while (s.clock.elapsedSince(start) < kStartSignalTimeoutMs) {
        const int got = s.usbMode ? s.port.readByteTimed(&b, kQuietLineMs)
                                  : s.port.readByteChecked(&b, kQuietLineMs);
        if (!got || b == kStart) return;
    }
}

// After the last answer: a further byte means the answers were one block behind the
// loader. Without a start byte seen the loader's own may have come late and been taken for
// the first block's answer; then its answer to the last block is still to come, so wait for it.
bool strayAnswerCame(Session& s, uint8_t* stray) {
    if (s.port.inputWaiting()) return s.port.readByteNow(stray) != 0;
    return s.startUnconfirmed && s.port.readByteTimed(stray, kAnswerTimeoutMs) != 0;
}

}  // namespace

bool awaitStartSignal(Session& s) {
    StatusReporter& r = s.reporter;
    r.setStatus(status::kWaitingForStart);
    const int limit = s.fallbackUsed ? 22 : 19;
    for (int tries = 1;; ++tries) {
        uint8_t b = 0;
        const int got = s.usbMode ? s.port.readByteTimed(&b, kStartSignalTimeoutMs)
                                  : s.port.readByteChecked(&b, kStartSignalTimeoutMs);
        if (!got && s.port.stopRequested()) {
            noteInterrupted(s);
            return false;
        }
        if (!got) {
            r.setStatus(status::kStartTimeout);
            s.outcome.result = SessionResult::NoStartSignal;
            return false;
        }
        if (b == kStart) return true;
        if (tries < limit) {
            reportf(r, status::kInvalidStartWarning, b, tries);
        } else {
            // The transfer still begins: the loader may be ready all the same. But its start
            // byte may also be still to come, after the noise: taken for the first block's
            // answer, it would put the transfer one block ahead. Let the line fall quiet first.
            reportf(r, status::kInvalidStartError, b, tries);
            s.startUnconfirmed = true;
            settleAfterTryLimit(s);
            if (s.port.stopRequested()) {
                noteInterrupted(s);
                return false;
            }
            return true;
        }
    }
}

void transferBlocks(Session& s) {
    StatusReporter& r = s.reporter;
    r.setStatus(status::kInProgress);
    // The length byte and the payload leave in one write, exactly as stored.
    uint8_t wire[1 + kMaxRecordPayload];
    for (s.blockIndex = 0;; ++s.blockIndex) {
        uint8_t length = 0;
        if (!s.image.readRecord(wire + 1, &length)) {
            // Fewer records than counted means the image broke while being read: the module
            // did not get the whole firmware, so this must not pass for success.
            if (s.blockIndex < s.totalBlocks) {
                r.setStatus(status::kCannotOpenImage);
                s.failed = true;
                failBlock(s, BlockFailure::ImageBroken, -1);
                s.outcome.reason = s.image.lastError();
            } else if (uint8_t stray = 0; s.totalBlocks > 0 && strayAnswerCame(s, &stray)) {
                // The loader said more than one answer per block: which block it took is
                // unknown, so the module may not hold the image.
                reportf(r, status::kFatalAnswer, stray, s.blockIndex - 1);
                s.failed = true;
                s.outcome.blockFailure = BlockFailure::StrayAnswer;
                s.outcome.blockIndex = s.blockIndex - 1;
                s.outcome.answerByte = stray;
            } else {
                r.setStatus(status::kTransferDone);
            }
            return;
        }
        wire[0] = length;
        s.resendCount = 0;
        const int32_t floor = s.totalBlocks / 30;
        r.setProgressPosition(s.blockIndex > floor ? s.blockIndex : floor);
        const Answer answer = sendRecord(s, wire, static_cast<uint16_t>(length + 1));
        if (answer == Answer::Stopped) {
            noteInterrupted(s);
            s.outcome.blockIndex = s.blockIndex;
            return;
        }
        if (answer == Answer::Failed) {
            s.failed = true;
            ++s.blockIndex;
            return;
        }
    }
}

}  // namespace kestrel
