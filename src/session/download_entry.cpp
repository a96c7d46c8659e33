#include "modem/baud_detect.h"
#include "modem/module_commands.h"
#include "session/session_phases.h"
#include "session/status_text.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

constexpr int64_t kJournalLifetimeS = 7 * 24 * 3600;

// A journal left by a session that died after moving the module's rate: when the module
// still answers at the moved rate, the rate it reports is the moved one, and the journal
// knows the real original. Anything doubtful is dropped with a warning, never trusted.
void recallJournalledRate(Session& s, int32_t detected) {
    if (s.journal == nullptr) return;
    RateJournalEntry entry;
    const RateJournal::Load load = s.journal->load(s.portIdentity, &entry);
    if (load == RateJournal::Load::None) return;
    const char* problem = nullptr;
    const int64_t age = s.journal->nowSeconds() - entry.savedAt;
    if (load == RateJournal::Load::Damaged)
        problem = "damaged";
    else if (age < 0 || age > kJournalLifetimeS)
        problem = "older than a week";
    else if (entry.movedRate != detected)
        problem = "the module answers at another rate";
    if (problem != nullptr) {
        reportf(s.reporter, status::kJournalIgnored, problem);
        s.journal->remove(s.portIdentity);
        return;
    }
    s.originalRate = entry.originalRate;
    reportf(s.reporter, status::kJournalledRate, s.originalRate);
}

// Written before the module is moved, so that a crash from here on cannot lose its rate. A
// move to the original rate itself needs no entry: it gives the module its rate back.
void journalRateMove(Session& s) {
    if (s.journal == nullptr || s.originalRate == -1 || s.originalRate == s.requestedRate) return;
    RateJournalEntry entry;
    entry.originalRate = s.originalRate;
    entry.movedRate = s.requestedRate;
    entry.savedAt = s.journal->nowSeconds();
    s.journal->save(s.portIdentity, entry);
}

// A stop ends the dialogue before its next command; the port sends nothing once it is set.
bool stoppedHere(Session& s) {
    if (!s.port.stopRequested()) return false;
    noteInterrupted(s);
    return true;
}

}  // namespace

EntryResult enterDownloadMode(Session& s) {
    const int32_t detected = detectBaudRate(s.port, s.requestedRate);
    if (stoppedHere(s)) return EntryResult::Failed;
    if (detected == -1) return EntryResult::NotDetected;

    // On the USB virtual port the rate means nothing to the module: leave it alone.
    if (!s.usbMode) {
        if (queryModuleRate(s.port, &s.originalRate))
            reportf(s.reporter, status::kOriginalRate, s.originalRate);
        if (stoppedHere(s)) return EntryResult::Failed;
        recallJournalledRate(s, detected);
        if (s.requestedRate != detected) {
            journalRateMove(s);
            // Both run whatever the first one's result: the port follows the module anyway.
            const int answered = moveModuleRate(s.port, s.requestedRate);
            const int followed = s.port.setBaudRate(static_cast<uint32_t>(s.requestedRate));
            const bool moved = answered && followed;
            // Moved back to its own rate: no hand-back follows to clear an older entry.
            if (moved && s.journal != nullptr && s.originalRate == s.requestedRate)
                s.journal->remove(s.portIdentity);
        }
        s.port.purgePort();
    }

    if (stoppedHere(s)) return EntryResult::Failed;
    if (!requestDownloadMode(s.port)) {
        // Cut short by a stop: the module did not refuse anything.
        if (stoppedHere(s)) return EntryResult::Failed;
        s.reporter.setStatus(status::kCannotSendDownload);
        s.outcome.result = SessionResult::DownloadModeNotEntered;
        return EntryResult::Failed;
    }
    return EntryResult::Entered;
}

}  // namespace kestrel
