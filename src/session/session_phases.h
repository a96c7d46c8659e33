// The phases of one session, each in a file of its own; runUpdateSession() strings them
// together. Each one reports its own texts through the session's reporter.
#pragma once

#include "session/session_state.h"

namespace kestrel {

// Enters `phase`: tells the front end, and chooses the stop level that ends the port's waits
// (any level before the transfer; from the transfer on only "at once", so that the block in
// flight settles and the hand-back runs).
void enterPhase(Session& session, SessionPhase phase);

// Sleeps `ms`, in short steps while a stop may end it. False, having slept less, when the
// port's stop is set.
bool pause(Session& session, uint32_t ms);

// Ends the session for a stop request: shows so (once) and records it in the outcome.
void noteInterrupted(Session& session);

// The outcomes of the negotiated entry into download mode.
enum class EntryResult { Entered, NotDetected, Failed };

// Talks a module with working firmware into download mode through AT commands; learns its
// original rate on the way (RS-232 only).
// Failed also when a stop ended it.
EntryResult enterDownloadMode(Session& session);

// Brings a module that cannot answer AT commands into download mode: restart on the DTR
// line at 57600 and the download command sent blind.
// False, with its error shown, when the port does not open again.
bool enterDownloadModeBlind(Session& session);

// Waits for the module's start signal. Returns false when none came or a stop ended the
// wait (the session ends).
bool awaitStartSignal(Session& session);

// Sends every record, stop-and-wait. Sets session.failed when the transfer did not complete,
// session.interrupted when a stop ended it first.
void transferBlocks(Session& session);

// Hands the module back after the transfer: restores its rate and switches it off, or
// restarts it after a block update. False when it showed an error, or when a stop "at once"
// cut it short (silently).
bool completeSession(Session& session);

}  // namespace kestrel
