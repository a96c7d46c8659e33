// A front end that remembers everything a session showed, with the virtual time of each.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "session/status_reporter.h"

namespace kestrel::test {

class RecordingHost final : public SessionHost {
  public:
    SessionFields fields;

    struct Status {
        std::string text;
        uint32_t atMs;
    };
    std::vector<Status> statuses;
    std::vector<int32_t> positions;
    int32_t rangeMax = -1;
    int startEnabled = 0;
    int fieldReads = 0;
    std::string phases;                         // each phase's name and a space, in order
    std::function<void(const char*)> onStatus;  // called with each status as it is shown

    // Stamps each status with `clock`'s time.
    explicit RecordingHost(Clock& clock) : clock_(clock) {
        copyText(fields.portName, "COM1");
        copyText(fields.rateText, "115200");
    }

    void readFields(SessionFields* out) override {
        ++fieldReads;
        *out = fields;
    }
    void setStatus(const char* text) override {
        if (onStatus) onStatus(text);
        statuses.push_back({text, clock_.nowMs()});
    }
    void setProgressRange(int32_t maximum) override { rangeMax = maximum; }
    void setProgressPosition(int32_t position) override { positions.push_back(position); }
    void enableStart() override { ++startEnabled; }
    void phaseChanged(SessionPhase phase) override {
        phases += describePhase(phase) + std::string(" ");
    }

    std::string lastStatus() const { return statuses.empty() ? "" : statuses.back().text; }
    bool showed(const std::string& text) const {
        const auto all = texts();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Status& s : statuses)
            out.push_back(s.text);
        return out;
    }

  private:
    Clock& clock_;
};

}  // namespace kestrel::test
