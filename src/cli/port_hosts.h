// The front ends one session of kestrel-cli reports to when several run at once or their
// output is for a program: status lines behind the port's name with a progress row each,
// or one JSON object per event.
#pragma once

#include <cstdint>
#include <string>

#include "cli/block_rate.h"
#include "cli/console.h"
#include "cli/json_line.h"
#include "platform/clock.h"
#include "session/status_reporter.h"

namespace kestrel {

// What every kestrel-cli front end offers beyond the session's calls: the image reader's
// warnings, which are printed text like the status lines.
class CliHost : public SessionHost {
  public:
    CliHost(const SessionFields& fields, Clock& clock) : fields_(fields), clock_(clock) {}
    void readFields(SessionFields* fields) override { *fields = fields_; }
    virtual void warning(const char* text) = 0;
    // The phase the session was in last ("entry", ...), or null before the first.
    const char* lastPhase() const { return lastPhase_; }

  protected:
    const char* lastPhase_ = nullptr;
    SessionFields fields_;
    Clock& clock_;
};

// "PORT: text" on standard output for each status text and warning; the port's progress row
// on the console's board.
class PrefixedHost final : public CliHost {
  public:
    PrefixedHost(const SessionFields& fields, Console& console, Clock& clock);
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void phaseChanged(SessionPhase phase) override;
    void enableStart() override;
    void warning(const char* text) override;
    // The row's last word once the session has ended ("succeeded", "failed", ...).
    void showResult(const char* result);

  private:
    void draw(bool force);
    Console& console_;
    ProgressRow row_;
    BlockRate rate_;
    bool stopped_ = false;  // an error came: the row keeps where the transfer stopped
};

// One JSON object per event on standard output: status, warning, phase and progress (at
// most ten a second, and the last one always). The session's begin and end events are the
// runner's, who knows the image and the outcome.
class JsonHost final : public CliHost {
  public:
    JsonHost(const SessionFields& fields, Console& console, Clock& clock, uint32_t startMs);
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void phaseChanged(SessionPhase phase) override;
    void enableStart() override {}
    void warning(const char* text) override;
    // Where the bytes written so far are counted (the transcript's tap), or null.
    void countBytesWith(const uint64_t* written) { bytesWritten_ = written; }

  private:
    void textEvent(const char* event, const char* text);
    Console& console_;
    uint32_t startMs_;
    int32_t maximum_ = 0;
    uint32_t lastProgressMs_ = 0;
    int32_t lastPosition_ = -1;  // -1: none sent since the range was set
    bool stopped_ = false;       // an error came: no more progress
    const uint64_t* bytesWritten_ = nullptr;
};

// The JSON events' common head: {"v":1,"event":EVENT,"port":PORT,...
JsonLine jsonEvent(const char* event, const char* port);

}  // namespace kestrel
