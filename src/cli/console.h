// Standard output and standard error as the sessions running at once share them: each line
// is written whole and flushed when it is made, and a terminal on standard error may carry a
// board of progress rows, one per port, redrawn in place below the lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/worker_thread.h"

namespace kestrel {

struct ProgressRow {
    std::string port;
    std::string phase;  // "entry", "transfer", ..., or the result at the end
    int32_t position = 0;
    int32_t maximum = 0;
    double blocksPerSecond = 0;  // 0: not known yet
    bool ended = false;
};

class Console {
  public:
    // `board`: a terminal for the progress rows, or null for none.
    Console(FILE* out, FILE* err, FILE* board);

    // One line (a line end is added) on standard output / standard error. Output that can
    // no longer be written (a reader that went away) is dropped: the updates go on.
    void outLine(const std::string& text);
    void errLine(const std::string& text);

    // The board's row for `port`, made on first use; redraws at most every 100 ms unless
    // `force`. Without a board it does nothing.
    void updateRow(const ProgressRow& row, uint32_t nowMs, bool force);
    // Leaves the board as last drawn: later lines go below it.
    void freezeBoard();

  private:
    void writeLocked(FILE* to, const std::string& text);
    void clearBoardLocked();
    void drawBoardLocked();

    Mutex mutex_;
    FILE* out_;
    FILE* err_;
    FILE* board_;
    std::vector<ProgressRow> rows_;
    int drawnRows_ = 0;
    uint32_t lastDrawMs_ = 0;
    bool drawnOnce_ = false;
};

// One board row: "PORT  PHASE  42%  1200/2000 blocks  85 blk/s  0:09 left".
std::string formatProgressRow(const ProgressRow& row, size_t portWidth);

}  // namespace kestrel
