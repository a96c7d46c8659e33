// kestrel-cli as the session's front end: its fields come from the command line, its status
// line is standard output and its progress bar standard error.
#pragma once

#include <cstdint>
#include <cstdio>

#include "cli/block_rate.h"
#include "platform/clock.h"
#include "session/status_reporter.h"

namespace kestrel {

class TerminalHost final : public SessionHost {
  public:
    // `bar` is where the progress bar is drawn (a terminal), or null for none; `clock`
    // paces its redraws and measures the throughput.
    TerminalHost(const SessionFields& fields, FILE* status, FILE* bar, Clock& clock);

    void readFields(SessionFields* fields) override;
    // Every non-empty text on a line of its own, flushed at once; an empty one only clears.
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void enableStart() override;

  private:
    void drawBar(bool force);
    void clearBar();

    SessionFields fields_;
    FILE* status_;
    FILE* bar_;
    Clock& clock_;
    bool barShown_ = false;
    bool stopped_ = false;  // an error came: the bar keeps the position it had

    int32_t maximum_ = 0;
    int32_t position_ = 0;
    uint32_t lastDrawMs_ = 0;
    BlockRate rate_;
};

// One line of the progress bar (no line end) for `position` of `maximum`, with the
// throughput (0: not known yet) and what it leaves: "[####----]  42%  ...", or, `stopped`,
// where an update stopped.
void formatProgressLine(char* out, size_t capacity, int32_t position, int32_t maximum,
                        double blocksPerSecond, bool stopped = false);

}  // namespace kestrel
