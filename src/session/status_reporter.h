// What a front end (the window, the command-line runner) offers the update session.
#pragma once

#include <cstdint>

#include "session/session_settings.h"

namespace kestrel {

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
};

// The front end as the session sees it: its fields, read once at the start, and its reporter.
class SessionHost : public StatusReporter {
  public:
    // Fills `fields` with the texts and options as the front end shows them right now.
    virtual void readFields(SessionFields* fields) = 0;
};

}  // namespace kestrel
