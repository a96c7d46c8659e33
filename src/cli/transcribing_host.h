// A front end seen through the transcript: every call goes on to the front end unchanged, and
// the status texts and progress reports are noted in the session's transcript on the way.
#pragma once

#include "serial/transcript.h"
#include "session/status_reporter.h"

namespace kestrel {

class TranscribingHost final : public SessionHost {
  public:
    TranscribingHost(SessionHost& inner, Transcript& transcript)
        : inner_(inner), transcript_(transcript) {}

    void readFields(SessionFields* fields) override { inner_.readFields(fields); }
    void setStatus(const char* text) override {
        if (text[0] != '\0') transcript_.noteStatus(text);
        inner_.setStatus(text);
    }
    void setProgressRange(int32_t maximum) override { inner_.setProgressRange(maximum); }
    void setProgressPosition(int32_t position) override {
        transcript_.noteProgress();
        inner_.setProgressPosition(position);
    }
    void phaseChanged(SessionPhase phase) override { inner_.phaseChanged(phase); }
    void enableStart() override { inner_.enableStart(); }

  private:
    SessionHost& inner_;
    Transcript& transcript_;
};

}  // namespace kestrel
