#include "session/session_phases.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

// How long a stop may wait for a pause to notice it.
constexpr uint32_t kPauseStepMs = 100;

}  // namespace

const char* describePhase(SessionPhase phase) {
    switch (phase) {
        case SessionPhase::Entry:
            return "entry";
        case SessionPhase::StartSignal:
            return "start-signal";
        case SessionPhase::Transfer:
            return "transfer";
        case SessionPhase::HandBack:
            return "hand-back";
    }
    return "unknown";
}

void enterPhase(Session& s, SessionPhase phase) {
    if (s.stop != nullptr) {
        const bool beforeTransfer =
            phase == SessionPhase::Entry || phase == SessionPhase::StartSignal;
        s.port.watchStop(beforeTransfer ? s.stop->anyStop() : s.stop->stopAtOnce());
    }
    s.reporter.phaseChanged(phase);
}

bool pause(Session& s, uint32_t ms) {
    if (s.stop == nullptr) {
        s.clock.sleepMs(ms);
        return true;
    }
    // Steps against the start time, so that the whole pause stays `ms` however each step ends.
    const uint32_t start = s.clock.nowMs();
    for (;;) {
        if (s.port.stopRequested()) return false;
        const uint32_t slept = s.clock.elapsedSince(start);
        if (slept >= ms) return true;
        const uint32_t left = ms - slept;
        s.clock.sleepMs(left < kPauseStepMs ? left : kPauseStepMs);
    }
}

void noteInterrupted(Session& s) {
    if (s.interrupted) return;
    s.interrupted = true;
    s.reporter.setStatus(status::kInterrupted);
    s.outcome.result = SessionResult::Interrupted;
    if (s.stop != nullptr) s.outcome.stoppedBy = s.stop->askedBy();
}

}  // namespace kestrel
