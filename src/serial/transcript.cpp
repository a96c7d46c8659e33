#include "serial/transcript.h"

#include <cstring>

#include "platform/state_dir.h"

namespace kestrel {

enum Transcript::Kind : uint8_t {
    kOpen,  // payload: the name, or "NAME failed: REASON"
    kSettings,
    kRateRead,
    kTimeoutsRefused,
    kDtr,
    kCts,
    kPurge,
    kDropInput,
    kLineError,
    kReadFailed,
    kReadText,    // payload: the bytes
    kAnswer,      // a: block index; payload: the byte
    kWriteText,   // a: bytes taken, b: bytes written; payload: the first of them
    kWriteBlock,  // a: block index, b: bytes taken; payload: the whole block
    kClose,
    kStatus,
    kOutcome,
};

// Every event in the ring: this header, then `size` bytes of payload.
struct Transcript::Header {
    uint32_t atMs;
    Kind kind;
    uint8_t flag;
    uint16_t size;
    uint32_t a;
    uint32_t b;
};

namespace {

constexpr size_t kMinRingBytes = 4096;
constexpr size_t kMaxPayload = 1024;  // a whole block fits: at most 256 bytes
constexpr size_t kMaxNote = 259;      // a status text's length
constexpr size_t kMaxReadLine = 80;
constexpr uint32_t kReadPauseMs = 10;
constexpr uint8_t kFlagFailed = 1;
constexpr uint8_t kFlagDtrOn = 2;
constexpr char kHex[] = "0123456789abcdef";

// Collects one line of text and hands it to the file in pieces of bounded size.
class LineOut {
  public:
    explicit LineOut(std::FILE* out) : out_(out) {}
    ~LineOut() { flush(); }

    void ch(char c) {
        if (n_ == sizeof buf_) flush();
        buf_[n_++] = c;
    }
    void text(const char* s) {
        while (*s != '\0')
            ch(*s++);
    }
    // `format` is one of ours: a few words around one number.
    void number(const char* format, unsigned long value) {
        char digits[64];
        std::snprintf(digits, sizeof digits, format, value);
        text(digits);
    }
    void hexByte(uint8_t b) {
        ch(kHex[b >> 4]);
        ch(kHex[b & 15]);
    }
    // Bytes as text; `wire` also escapes the backslash, so that the bytes can be told back.
    void escaped(const uint8_t* bytes, size_t size, bool wire) {
        for (size_t i = 0; i < size; ++i) {
            const uint8_t b = bytes[i];
            if (b == '\r') {
                text("\\r");
            } else if (b == '\n') {
                text("\\n");
            } else if (b == '\\' && wire) {
                text("\\\\");
            } else if (b >= 0x20 && b < 0x7f) {
                ch(static_cast<char>(b));
            } else {
                text("\\x");
                hexByte(b);
            }
        }
    }
    void flush() {
        if (n_ > 0) std::fwrite(buf_, 1, n_, out_);
        n_ = 0;
    }

  private:
    std::FILE* out_;
    char buf_[256];
    size_t n_ = 0;
};

size_t noteLength(const char* text) {
    size_t n = 0;
    while (n < kMaxNote && text[n] != '\0')
        ++n;
    return n;
}

}  // namespace

Transcript::Transcript(Clock& clock, size_t ringBytes)
    : clock_(clock),
      beginMs_(clock.nowMs()),
      capacity_(ringBytes < kMinRingBytes ? kMinRingBytes : ringBytes),
      ring_(new uint8_t[capacity_]) {}

Transcript::~Transcript() {
    endReadLine();
    if (stream_ != nullptr) std::fclose(stream_);
}

bool Transcript::streamTo(const char* path, SystemError* why) {
    std::FILE* f = openOutputFile(path, false, why);
    if (f == nullptr) return false;
    if (stream_ != nullptr) std::fclose(stream_);
    // What was recorded before goes first, whole: a read line still open is ended here.
    endReadLine();
    if (!writeRing(f) || std::fflush(f) != 0) {
        why->set(lastSystemErrorCode(), path);
        std::fclose(f);
        return false;
    }
    stream_ = f;
    streamError_.clear();
    return true;
}

void Transcript::noteStatus(const char* text) {
    record(kStatus, 0, 0, 0, text, noteLength(text));
}

void Transcript::noteProgress() {
    nextIsNewBlock_ = true;
}

void Transcript::noteOutcome(const char* line) {
    record(kOutcome, 0, 0, 0, line, noteLength(line));
}

void Transcript::noteOpen(const char* name, bool opened, const SystemError* why) {
    char text[kMaxNote + kReasonPathCapacity + 16];
    if (opened || why == nullptr || !why->known()) {
        std::snprintf(text, sizeof text, opened ? "%s" : "%s failed", name);
    } else {
        char reason[kMaxNote + 1];
        describeSystemError(*why, reason, sizeof reason);
        std::snprintf(text, sizeof text, "%s failed: %s", name, reason);
    }
    afterBlock_ = false;
    record(kOpen, opened ? 0 : kFlagFailed, 0, 0, text, std::strlen(text));
}

void Transcript::noteSettings(const LineSettings& settings, bool applied) {
    afterBlock_ = false;
    const uint8_t flag = (applied ? 0 : kFlagFailed) | (settings.dtrOn ? kFlagDtrOn : 0);
    record(kSettings, flag, settings.rate, 0, nullptr, 0);
}

void Transcript::noteRateRead(bool ok, uint32_t rate) {
    record(kRateRead, ok ? 0 : kFlagFailed, rate, 0, nullptr, 0);
}

void Transcript::noteTimeoutsRefused() {
    record(kTimeoutsRefused, 0, 0, 0, nullptr, 0);
}

void Transcript::noteDtr(bool on, bool ok) {
    record(kDtr, (ok ? 0 : kFlagFailed) | (on ? kFlagDtrOn : 0), 0, 0, nullptr, 0);
}

void Transcript::noteCts(bool ok, bool on) {
    // Polled every millisecond while a restart waits: only a change is worth a line.
    const int state = !ok ? 2 : on ? 1 : 0;
    if (state == ctsShown_) return;
    ctsShown_ = state;
    record(kCts, 0, static_cast<uint32_t>(state), 0, nullptr, 0);
}

void Transcript::notePurge(bool dropInputOnly, bool ok) {
    record(dropInputOnly ? kDropInput : kPurge, ok ? 0 : kFlagFailed, 0, 0, nullptr, 0);
}

void Transcript::noteLineError() {
    record(kLineError, 0, 0, 0, nullptr, 0);
}

void Transcript::noteRead(bool ok, bool got, uint8_t byte) {
    if (!ok) {
        // A port that is gone fails every poll: one line until a read works again.
        if (!readFailing_) record(kReadFailed, 0, 0, 0, nullptr, 0);
        readFailing_ = true;
        return;
    }
    readFailing_ = false;
    if (!got) return;
    if (afterBlock_) {
        record(kAnswer, 0, static_cast<uint32_t>(blockIndex_), 0, &byte, 1);
        return;
    }
    const uint32_t now = clock_.nowMs();
    Header h{};
    if (readLineOpen_) get(newest_, &h, sizeof h);
    if (readLineOpen_ && h.size < kMaxReadLine && now - lastReadMs_ <= kReadPauseMs) {
        makeRoom(1);
        if (readLineOpen_) {  // still there: only a ring of one event could lose it
            put(newest_ + sizeof h + h.size, &byte, 1);
            ++h.size;
            put(newest_, &h, sizeof h);
            ++used_;
        } else {
            record(kReadText, 0, 0, 0, &byte, 1);
        }
    } else {
        record(kReadText, 0, 0, 0, &byte, 1);
    }
    readLineOpen_ = true;
    lastReadMs_ = now;
    if (byte == '\n') endReadLine();
}

void Transcript::noteWrite(const uint8_t* bytes, uint32_t count, uint32_t taken) {
    // A record goes out as its length byte and exactly that many bytes, in one write; the
    // commands are short texts beginning with "AT", far from 65 bytes long.
    const bool block = count >= 1 && count <= 256 && bytes[0] == count - 1;
    afterBlock_ = block;
    if (block) {
        if (nextIsNewBlock_ || blockIndex_ < 0) ++blockIndex_;
        nextIsNewBlock_ = false;
        record(kWriteBlock, 0, static_cast<uint32_t>(blockIndex_), taken, bytes, count);
    } else {
        record(kWriteText, 0, taken, count, bytes, count < kMaxPayload ? count : kMaxPayload);
    }
}

void Transcript::noteClose() {
    afterBlock_ = false;
    record(kClose, 0, 0, 0, nullptr, 0);
}

void Transcript::record(Kind kind, uint8_t flag, uint32_t a, uint32_t b, const void* data,
                        size_t size) {
    endReadLine();
    if (size > kMaxPayload) size = kMaxPayload;
    const Header h{clock_.nowMs() - beginMs_, kind, flag, static_cast<uint16_t>(size), a, b};
    makeRoom(sizeof h + size);
    newest_ = (oldest_ + used_) % capacity_;
    put(newest_, &h, sizeof h);
    if (size > 0) put(newest_ + sizeof h, data, size);
    used_ += sizeof h + size;
    // A read line is written once it has ended.
    if (stream_ != nullptr && kind != kReadText) stream(newest_);
}

void Transcript::endReadLine() {
    if (!readLineOpen_) return;
    readLineOpen_ = false;
    if (stream_ != nullptr) stream(newest_);
}

void Transcript::makeRoom(size_t size) {
    while (capacity_ - used_ < size && used_ > 0) {
        Header h;
        get(oldest_, &h, sizeof h);
        if (oldest_ == newest_) readLineOpen_ = false;
        oldest_ = (oldest_ + sizeof h + h.size) % capacity_;
        used_ -= sizeof h + h.size;
        ++dropped_;
    }
}

void Transcript::put(size_t at, const void* data, size_t size) {
    at %= capacity_;
    const size_t first = size < capacity_ - at ? size : capacity_ - at;
    std::memcpy(ring_.get() + at, data, first);
    std::memcpy(ring_.get(), static_cast<const uint8_t*>(data) + first, size - first);
}

void Transcript::get(size_t at, void* data, size_t size) const {
    at %= capacity_;
    const size_t first = size < capacity_ - at ? size : capacity_ - at;
    std::memcpy(data, ring_.get() + at, first);
    std::memcpy(static_cast<uint8_t*>(data) + first, ring_.get(), size - first);
}

void Transcript::stream(size_t at) {
    formatEvent(at, stream_);
    // Flushed line by line: a crash loses at most the line being made.
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        streamError_.set(lastSystemErrorCode(), nullptr, "the transcript could not be written");
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

bool Transcript::writeRing(std::FILE* out) const {
    if (dropped_ > 0) {
        LineOut line(out);
        line.number("(%lu", dropped_);
        line.text(" earlier events dropped to keep the transcript small)\n");
    }
    for (size_t done = 0; done < used_;) {
        const size_t at = (oldest_ + done) % capacity_;
        Header h;
        get(at, &h, sizeof h);
        formatEvent(at, out);
        done += sizeof h + h.size;
    }
    return std::ferror(out) == 0;
}

void Transcript::formatEvent(size_t at, std::FILE* out) const {
    Header h;
    get(at, &h, sizeof h);
    uint8_t data[kMaxPayload];
    get(at + sizeof h, data, h.size);
    const bool failed = (h.flag & kFlagFailed) != 0;
    const char* dtr = (h.flag & kFlagDtrOn) != 0 ? "on" : "off";

    LineOut line(out);
    line.number("%6lu", h.atMs / 1000);
    line.number(".%03lu ", h.atMs % 1000);
    switch (h.kind) {
        case kOpen:
            line.text("open ");
            line.escaped(data, h.size, false);
            break;
        case kSettings:
            line.number("rate %lu, DTR ", h.a);
            line.text(dtr);
            if (failed) line.text(" refused");
            break;
        case kRateRead:
            if (failed)
                line.text("rate cannot be read back");
            else
                line.number("rate reads back %lu", h.a);
            break;
        case kTimeoutsRefused:
            line.text("timeouts refused");
            break;
        case kDtr:
            line.text("DTR ");
            line.text(dtr);
            if (failed) line.text(" failed");
            break;
        case kCts:
            line.text(h.a == 2 ? "CTS unreadable" : h.a == 1 ? "CTS on" : "CTS off");
            break;
        case kPurge:
        case kDropInput:
            line.text(h.kind == kPurge ? "purge" : "drop input");
            if (failed) line.text(" failed");
            break;
        case kLineError:
            line.text("line error");
            break;
        case kReadFailed:
            line.text("read failed");
            break;
        case kReadText:
            line.text("R ");
            line.escaped(data, h.size, true);
            break;
        case kAnswer:
            line.number("R block %lu answer 0x", h.a);
            line.hexByte(data[0]);
            break;
        case kWriteText:
            line.text("W ");
            line.escaped(data, h.size, true);
            if (h.b > h.size) line.number(" (%lu bytes, the first shown)", h.b);
            if (h.a != h.b) {
                line.number(" (wrote %lu", h.a);
                line.number(" of %lu)", h.b);
            }
            break;
        case kWriteBlock:
            line.number("W block %lu:", h.a);
            for (size_t i = 0; i < h.size; ++i) {
                line.ch(' ');
                line.hexByte(data[i]);
            }
            line.number(" (%lu bytes)", h.size);
            if (h.b != h.size) {
                line.number(" (wrote %lu", h.b);
                line.number(" of %lu)", h.size);
            }
            break;
        case kClose:
            line.text("close");
            break;
        case kStatus:
            line.text("status ");
            line.escaped(data, h.size, false);
            break;
        case kOutcome:
            line.text("outcome ");
            line.escaped(data, h.size, false);
            break;
    }
    line.ch('\n');
}

}  // namespace kestrel
