#include "cli/terminal_host.h"

#include <cstring>

#include "platform/clock.h"
#include "session/status_texts.h"

namespace kestrel {

namespace {

constexpr uint32_t kRedrawMs = 100;
constexpr int kBarWidth = 30;

}  // namespace

void formatProgressLine(char* out, size_t capacity, int32_t position, int32_t maximum,
                        double blocksPerSecond, bool stopped) {
    if (maximum < 0) maximum = 0;
    if (position < 0) position = 0;
    if (position > maximum) position = maximum;
    const double part = maximum > 0 ? static_cast<double>(position) / maximum : 0.0;
    char bar[kBarWidth + 1];
    const int filled = static_cast<int>(part * kBarWidth);
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = '\0';

    char rate[32] = "-- blk/s";
    char left[32] = "--:--";
    if (blocksPerSecond > 0) {
        std::snprintf(rate, sizeof rate, "%.0f blk/s", blocksPerSecond);
        formatTimeLeft(left, sizeof left, position, maximum, blocksPerSecond);
    }
    if (position == maximum) std::snprintf(left, sizeof left, "0:00");
    if (stopped) {
        std::snprintf(out, capacity, "[%s] %3d%%  %d/%d blocks  stopped", bar,
                      static_cast<int>(part * 100), position, maximum);
        return;
    }
    std::snprintf(out, capacity, "[%s] %3d%%  %d/%d blocks  %s  %s left", bar,
                  static_cast<int>(part * 100), position, maximum, rate, left);
}

TerminalHost::TerminalHost(const SessionFields& fields, FILE* status, FILE* bar, Clock& clock)
    : fields_(fields), status_(status), bar_(bar), clock_(clock) {}

void TerminalHost::readFields(SessionFields* fields) {
    *fields = fields_;
}

void TerminalHost::setStatus(const char* text) {
    // After an error the bar stays where the update stopped: the session still fills it, as
    // the window's, but a terminal's last line must not read like a finished update.
    if (status::isError(text) && maximum_ > 0) stopped_ = true;
    if (text[0] == '\0') return;
    clearBar();
    std::fputs(text, status_);
    std::fputc('\n', status_);
    std::fflush(status_);
    drawBar(true);
}

void TerminalHost::setProgressRange(int32_t maximum) {
    stopped_ = false;
    maximum_ = maximum;
    position_ = 0;
    rate_.restart();
    drawBar(true);
}

void TerminalHost::setProgressPosition(int32_t position) {
    if (stopped_) return;
    rate_.note(position, clock_.nowMs());
    position_ = position;
    drawBar(position == maximum_);
}

void TerminalHost::enableStart() {
    // The session is over: leave the bar where it is and end its line.
    if (barShown_) std::fputc('\n', bar_);
    barShown_ = false;
    if (bar_ != nullptr) std::fflush(bar_);
}

void TerminalHost::drawBar(bool force) {
    if (bar_ == nullptr || maximum_ <= 0) return;
    const uint32_t now = clock_.nowMs();
    if (!force && barShown_ && now - lastDrawMs_ < kRedrawMs) return;
    lastDrawMs_ = now;
    char line[160];
    formatProgressLine(line, sizeof line, position_, maximum_, rate_.perSecond(), stopped_);
    std::fprintf(bar_, "\r%s\033[K", line);
    std::fflush(bar_);
    barShown_ = true;
}

void TerminalHost::clearBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", bar_);
    std::fflush(bar_);
    barShown_ = false;
}

}  // namespace kestrel
