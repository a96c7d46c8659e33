#include "cli/console.h"

#include "cli/block_rate.h"

namespace kestrel {

namespace {

constexpr uint32_t kRedrawMs = 100;

}  // namespace

std::string formatProgressRow(const ProgressRow& row, size_t portWidth) {
    char line[200];
    const int32_t maximum = row.maximum > 0 ? row.maximum : 0;
    const int32_t position =
        row.position < 0 ? 0 : (row.position > maximum ? maximum : row.position);
    const int percent = maximum > 0 ? static_cast<int>(100.0 * position / maximum) : 0;
    char speed[32] = "";
    char left[32] = "";
    if (!row.ended && row.blocksPerSecond > 0) {
        char time[24];
        formatTimeLeft(time, sizeof time, position, maximum, row.blocksPerSecond);
        std::snprintf(speed, sizeof speed, "  %.0f blk/s", row.blocksPerSecond);
        std::snprintf(left, sizeof left, "  %s left", time);
    }
    std::snprintf(line, sizeof line, "%-*s  %-12s %3d%%  %d/%d blocks%s%s",
                  static_cast<int>(portWidth), row.port.c_str(), row.phase.c_str(), percent,
                  position, maximum, speed, left);
    return line;
}

Console::Console(FILE* out, FILE* err, FILE* board) : out_(out), err_(err), board_(board) {}

void Console::writeLocked(FILE* to, const std::string& text) {
    // A failed write (EPIPE with SIGPIPE ignored) leaves the stream in error: clear it, so a
    // reader that comes back (a terminal) sees the following lines, and carry on.
    if (std::fputs(text.c_str(), to) == EOF || std::fputc('\n', to) == EOF) std::clearerr(to);
    if (std::fflush(to) == EOF) std::clearerr(to);
}

void Console::outLine(const std::string& text) {
    MutexHold hold(mutex_);
    clearBoardLocked();
    writeLocked(out_, text);
    drawBoardLocked();
}

void Console::errLine(const std::string& text) {
    MutexHold hold(mutex_);
    clearBoardLocked();
    writeLocked(err_, text);
    drawBoardLocked();
}

void Console::updateRow(const ProgressRow& row, uint32_t nowMs, bool force) {
    if (board_ == nullptr) return;
    MutexHold hold(mutex_);
    bool found = false;
    for (ProgressRow& r : rows_) {
        if (r.port == row.port) {
            r = row;
            found = true;
        }
    }
    if (!found) rows_.push_back(row);
    if (!force && drawnOnce_ && nowMs - lastDrawMs_ < kRedrawMs) return;
    lastDrawMs_ = nowMs;
    drawnOnce_ = true;
    clearBoardLocked();
    drawBoardLocked();
}

void Console::freezeBoard() {
    MutexHold hold(mutex_);
    rows_.clear();
    drawnRows_ = 0;
}

void Console::clearBoardLocked() {
    if (board_ == nullptr || drawnRows_ == 0) return;
    // Up to the board's first row, then clear to the end of the screen.
    std::fprintf(board_, "\033[%dA\r\033[J", drawnRows_);
    drawnRows_ = 0;
}

void Console::drawBoardLocked() {
    if (board_ == nullptr || rows_.empty()) return;
    size_t width = 4;
    for (const ProgressRow& r : rows_)
        width = r.port.size() > width ? r.port.size() : width;
    if (width > 40) width = 40;
    for (const ProgressRow& r : rows_) {
        const std::string line = formatProgressRow(r, width);
        if (std::fprintf(board_, "%s\033[K\n", line.c_str()) < 0) std::clearerr(board_);
    }
    drawnRows_ = static_cast<int>(rows_.size());
    if (std::fflush(board_) == EOF) std::clearerr(board_);
}

}  // namespace kestrel
