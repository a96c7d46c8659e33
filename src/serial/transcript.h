// A transcript of one session's serial traffic, for support: what went over the line, the
// line's settings, what the operator was shown and how the session ended.
//
// Recording is cheap: each event goes, as it comes, into a bounded ring of raw events (time,
// kind, the bytes), the oldest whole events making room for new ones; text is made only when
// the ring is written out, or event by event to a file given to streamTo(). The serial events
// come from a TranscriptTap; the front end adds its status texts, its progress and the outcome.
// One session's thread records; nothing is locked.
//
// The text, one line per event, each beginning with the time since the session began in
// seconds to the millisecond, right-aligned:
//       0.000 open /dev/ttyUSB0
//       0.001 rate 115200, DTR off
//      12.345 W AT+IPR?\r
//      12.400 R +IPR: 57600\r\n
//    1500.002 W block 17: 48 00 01 ... 5a (73 bytes)
//    1500.010 R block 17 answer 0x01
//    1600.000 status ERROR: Timout waiting fo response after block no.18
//    1600.500 outcome transfer failed at block 18
// W is written, R read. Written text and read bytes are shown as text, a byte other than a
// printable ASCII character as \r, \n, \\ or \xNN; a read line ends after \n, after 80 bytes,
// after a pause of more than 10 ms or at the next event. A write that is one length byte
// followed by that many bytes is a block: shown in hex, numbered from 0 (as the status texts
// number blocks), the bytes read after it until the next write are its answers. Other events:
// "open NAME" (or "open NAME failed: REASON"), "rate N, DTR on|off" for settings applied
// ("... refused"), "rate reads back N", "DTR on|off", "CTS on|off|unreadable" when it changes,
// "purge", "drop input" (" failed" when refused), "line error", "read failed" (once until a read
// succeeds again), "timeouts refused", "close". A write the device did not take whole ends with
// "(wrote N of M)". When the ring had to drop old events, the text begins with a line that
// says how many.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/clock.h"
#include "platform/system_error.h"
#include "serial/line_settings.h"

namespace kestrel {

class Transcript {
  public:
    static constexpr size_t kDefaultRingBytes = 256 * 1024;

    // Times count from now on `clock`. The ring holds at least 1 KiB.
    explicit Transcript(Clock& clock, size_t ringBytes = kDefaultRingBytes);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Also writes every event to a new file at `path` (replacing one that is there), the
    // events recorded so far first, each line flushed as it is written, however long the
    // session runs. False with the reason when the file cannot be made; a later write error
    // ends the streaming and is kept for streamError().
    bool streamTo(const char* path, SystemError* why);
    const SystemError& streamError() const { return streamError_; }

    // --- from the front end ---
    // A status text as the operator sees it.
    void noteStatus(const char* text);
    // Call on every progress report: the session reports progress before each new block and
    // never before a resend, so the next block written after it is the next block.
    void noteProgress();
    // How the session ended, in the front end's words.
    void noteOutcome(const char* line);

    // --- from the serial layer (TranscriptTap) ---
    void noteOpen(const char* name, bool opened, const SystemError* why);
    void noteSettings(const LineSettings& settings, bool applied);
    void noteRateRead(bool ok, uint32_t rate);
    void noteTimeoutsRefused();
    void noteDtr(bool on, bool ok);
    void noteCts(bool ok, bool on);
    void notePurge(bool dropInputOnly, bool ok);
    void noteLineError();
    void noteRead(bool ok, bool got, uint8_t byte);
    void noteWrite(const uint8_t* bytes, uint32_t count, uint32_t taken);
    void noteClose();

    // Writes what the ring holds as text. False when `out` reports a write error.
    bool writeRing(std::FILE* out) const;
    // Events the ring dropped to make room.
    uint32_t droppedEvents() const { return dropped_; }

  private:
    enum Kind : uint8_t;
    struct Header;

    void record(Kind kind, uint8_t flag, uint32_t a, uint32_t b, const void* data, size_t size);
    void endReadLine();
    void makeRoom(size_t size);
    void put(size_t at, const void* data, size_t size);
    void get(size_t at, void* data, size_t size) const;
    void stream(size_t at);
    void formatEvent(size_t at, std::FILE* out) const;

    Clock& clock_;
    const uint32_t beginMs_;
    const size_t capacity_;
    std::unique_ptr<uint8_t[]> ring_;
    size_t oldest_ = 0;  // where the oldest event begins
    size_t used_ = 0;
    size_t newest_ = 0;  // where the newest event begins (valid while used_ > 0)
    uint32_t dropped_ = 0;

    bool readLineOpen_ = false;  // the newest event is a read line that may still grow
    uint32_t lastReadMs_ = 0;
    bool afterBlock_ = false;  // reads are answers to block blockIndex_
    bool nextIsNewBlock_ = false;
    int32_t blockIndex_ = -1;
    bool readFailing_ = false;
    int ctsShown_ = -1;  // -1 nothing yet, 0 off, 1 on, 2 unreadable

    std::FILE* stream_ = nullptr;
    SystemError streamError_;
};

}  // namespace kestrel
