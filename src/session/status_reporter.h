// What a front end (the window, the command-line runner) offers the update session.
#pragma once

#include <cstdint>

#include "session/session_settings.h"

namespace kestrel {

// The stretches of a running session, in the order they come.
enum class SessionPhase : uint8_t {
    Entry,        // bringing the module into download mode (and finding its USB port again)
    StartSignal,  // waiting for the loader's start signal
    Transfer,     // sending the blocks
    HandBack,     // handing the module back (rate restored, switched off or restarted)
};

// A short stable name of the phase ("entry", "start-signal", ...), for machine-read output.
const char* describePhase(SessionPhase phase);

// Everything a session shows goes through here, in the order it is made. A window carries
// each call out on its own thread while the session waits.
class StatusReporter {
  public:
    virtual ~StatusReporter() = default;
    // Replaces the status line with `text` (one line, at most 259 characters).
    virtual void setStatus(const char* text) = 0;
    // Sets the progress range to 0..`maximum`.
    virtual void setProgressRange(int32_t maximum) = 0;
    virtual void setProgressPosition(int32_t position) = 0;
    // Enables START again at the end of a session.
    virtual void enableStart() = 0;
    // The session entered `phase`. Front ends that show only the status line ignore it.
    virtual void phaseChanged(SessionPhase /*phase*/) {}
};

// The front end as the session sees it: its fields, read once at the start, and its reporter.
class SessionHost : public StatusReporter {
  public:
    // Fills `fields` with the texts and options as the front end shows them right now.
    virtual void readFields(SessionFields* fields) = 0;
};

}  // namespace kestrel
