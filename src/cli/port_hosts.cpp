#include "cli/port_hosts.h"

#include "session/status_texts.h"

#include <cstring>

namespace kestrel {

namespace {

constexpr uint32_t kProgressEventMs = 100;
// The version of the JSON events' layout; a change to it is a documented change.
constexpr int kJsonSchema = 1;

}  // namespace

JsonLine jsonEvent(const char* event, const char* port) {
    JsonLine line;
    line.add("v", kJsonSchema).add("event", event);
    if (port != nullptr) line.add("port", port);
    return line;
}

PrefixedHost::PrefixedHost(const SessionFields& fields, Console& console, Clock& clock)
    : CliHost(fields, clock), console_(console) {
    row_.port = fields.portName;
    row_.phase = "waiting";
}

void PrefixedHost::setStatus(const char* text) {
    // After an error the session still fills the bar, as the window's; a display of where the
    // transfer stopped must not move on.
    if (status::isError(text)) stopped_ = true;
    if (text[0] == '\0') return;
    console_.outLine(row_.port + ": " + text);
}

void PrefixedHost::warning(const char* text) {
    console_.outLine(row_.port + ": " + text);
}

void PrefixedHost::setProgressRange(int32_t maximum) {
    row_.maximum = maximum;
    row_.position = 0;
    stopped_ = false;
    rate_.restart();
    draw(true);
}

void PrefixedHost::setProgressPosition(int32_t position) {
    if (row_.ended || stopped_) return;
    rate_.note(position, clock_.nowMs());
    row_.position = position;
    row_.blocksPerSecond = rate_.perSecond();
    draw(false);
}

void PrefixedHost::phaseChanged(SessionPhase phase) {
    lastPhase_ = describePhase(phase);
    row_.phase = lastPhase_;
    draw(true);
}

void PrefixedHost::enableStart() {}

void PrefixedHost::showResult(const char* result) {
    row_.phase = result;
    row_.ended = true;
    draw(true);
}

void PrefixedHost::draw(bool force) {
    console_.updateRow(row_, clock_.nowMs(), force);
}

JsonHost::JsonHost(const SessionFields& fields, Console& console, Clock& clock, uint32_t startMs)
    : CliHost(fields, clock), console_(console), startMs_(startMs) {}

void JsonHost::textEvent(const char* event, const char* text) {
    console_.outLine(jsonEvent(event, fields_.portName)
                         .add("text", text)
                         .add("ms", clock_.nowMs() - startMs_)
                         .object());
}

void JsonHost::setStatus(const char* text) {
    if (status::isError(text)) stopped_ = true;
    // An empty text only clears the window's status line: nothing happened.
    if (text[0] != '\0') textEvent("status", text);
}

void JsonHost::warning(const char* text) {
    textEvent("warning", text);
}

void JsonHost::phaseChanged(SessionPhase phase) {
    lastPhase_ = describePhase(phase);
    console_.outLine(jsonEvent("phase", fields_.portName)
                         .add("phase", describePhase(phase))
                         .add("ms", clock_.nowMs() - startMs_)
                         .object());
}

void JsonHost::setProgressRange(int32_t maximum) {
    maximum_ = maximum;
    lastPosition_ = -1;
    stopped_ = false;
}

void JsonHost::setProgressPosition(int32_t position) {
    const uint32_t now = clock_.nowMs();
    if (stopped_ || position == lastPosition_) return;
    const bool last = position >= maximum_;
    if (lastPosition_ >= 0 && !last && now - lastProgressMs_ < kProgressEventMs) return;
    lastPosition_ = position;
    lastProgressMs_ = now;
    JsonLine line = jsonEvent("progress", fields_.portName);
    line.add("blocks", position).add("total", maximum_);
    if (bytesWritten_ != nullptr) line.add("bytes", static_cast<int64_t>(*bytesWritten_));
    console_.outLine(line.add("ms", now - startMs_).object());
}

}  // namespace kestrel
