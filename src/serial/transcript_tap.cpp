#include "serial/transcript_tap.h"

namespace kestrel {

bool TranscriptTap::open(const char* name, SystemError* why) {
    const bool ok = inner_.open(name, why);
    t_.noteOpen(name, ok, why);
    return ok;
}

bool TranscriptTap::applySettings(const LineSettings& settings) {
    const bool ok = inner_.applySettings(settings);
    t_.noteSettings(settings, ok);
    return ok;
}

bool TranscriptTap::readRate(uint32_t* rate) {
    const bool ok = inner_.readRate(rate);
    t_.noteRateRead(ok, ok ? *rate : 0);
    return ok;
}

bool TranscriptTap::applyTimeouts() {
    const bool ok = inner_.applyTimeouts();
    if (!ok) t_.noteTimeoutsRefused();
    return ok;
}

bool TranscriptTap::setDtr(bool on) {
    const bool ok = inner_.setDtr(on);
    t_.noteDtr(on, ok);
    return ok;
}

bool TranscriptTap::readCts(bool* on) {
    const bool ok = inner_.readCts(on);
    t_.noteCts(ok, ok && *on);
    return ok;
}

bool TranscriptTap::purge() {
    const bool ok = inner_.purge();
    t_.notePurge(false, ok);
    return ok;
}

bool TranscriptTap::dropInput() {
    const bool ok = inner_.dropInput();
    t_.notePurge(true, ok);
    return ok;
}

// Asked before every block: says nothing worth a line.
bool TranscriptTap::bytesWaiting(uint32_t* count) {
    return inner_.bytesWaiting(count);
}

bool TranscriptTap::takeLineErrors(bool* any) {
    const bool ok = inner_.takeLineErrors(any);
    if (ok && *any) t_.noteLineError();
    return ok;
}

bool TranscriptTap::readByte(uint8_t* byte, bool* got) {
    const bool ok = inner_.readByte(byte, got);
    const bool delivered = ok && *got;
    t_.noteRead(ok, delivered, delivered ? *byte : 0);
    return ok;
}

uint32_t TranscriptTap::write(const uint8_t* bytes, uint32_t count) {
    const uint32_t taken = inner_.write(bytes, count);
    t_.noteWrite(bytes, count, taken);
    bytesWritten_ += taken;
    return taken;
}

void TranscriptTap::close() {
    inner_.close();
    t_.noteClose();
}

}  // namespace kestrel
