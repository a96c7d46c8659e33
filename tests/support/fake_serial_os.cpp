#include "support/fake_serial_os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::test {

void FakeSerialOs::record(Event::Kind kind, std::string text, uint32_t rate, bool on) {
    events.push_back(Event{kind, clock_.elapsed(), std::move(text), rate, on});
}

std::vector<Event> FakeSerialOs::eventsOf(Event::Kind kind) const {
    std::vector<Event> out;
    for (const Event& e : events)
        if (e.kind == kind) out.push_back(e);
    return out;
}

bool FakeSerialOs::deviceAlive() const {
    return module_.portPresent(now()) && !(module_.vanished() && module_.config().usb);
}

bool FakeSerialOs::open(const char* name, SystemError* why) {
    if (onOpen) onOpen();
    if (devices.count(name) == 0 || !module_.portPresent(now())) {
        record(Event::Kind::OpenFailed, name);
        why->set(ENOENT, name);
        return false;
    }
    open_ = true;
    record(Event::Kind::Open, name);
    module_.hostOpened(now());
    return true;
}

bool FakeSerialOs::applySettings(const LineSettings& s) {
    if (refusedRates.count(s.rate)) return false;
    auto sub = substitutes.find(s.rate);
    rate_ = sub == substitutes.end() ? s.rate : sub->second;
    record(Event::Kind::Settings, {}, s.rate, s.dtrOn);
    // Applying the record drives DTR to its recorded mode, as a real device does.
    setDtr(s.dtrOn);
    return true;
}

bool FakeSerialOs::readRate(uint32_t* rate) {
    *rate = rate_;
    return true;
}

bool FakeSerialOs::applyTimeouts() {
    return !timeoutsRefused;
}

bool FakeSerialOs::setDtr(bool on) {
    if (on != dtr_) record(Event::Kind::Dtr, {}, 0, on);
    dtr_ = on;
    module_.setDtr(on, now());
    return true;
}

bool FakeSerialOs::readCts(bool* on) {
    if (modemStatusFails) return false;
    *on = deviceAlive() && module_.cts(now());
    return true;
}

bool FakeSerialOs::purge() {
    module_.discardDue(now());
    record(Event::Kind::Purge);
    pendingLineError_ = false;
    return true;
}

bool FakeSerialOs::dropInput() {
    module_.discardDue(now());
    pendingLineError_ = false;
    return true;
}

bool FakeSerialOs::bytesWaiting(uint32_t* count) {
    uint32_t due = 0;
    *count = deviceAlive() && module_.nextByteDue(&due) && static_cast<int32_t>(due - now()) <= 0
                 ? 1
                 : 0;
    return true;
}

bool FakeSerialOs::takeLineErrors(bool* any) {
    if (lineErrorQueryFails) return false;
    *any = pendingLineError_;
    pendingLineError_ = false;
    return true;
}

bool FakeSerialOs::readByte(uint8_t* byte, bool* got) {
    if (onRead) onRead();
    *got = false;
    constexpr uint32_t kReadTimeoutMs = 5;
    uint32_t due = 0;
    if (deviceAlive() && module_.nextByteDue(&due)) {
        const int32_t wait = static_cast<int32_t>(due - now());
        if (wait <= static_cast<int32_t>(kReadTimeoutMs)) {
            if (wait > 0) clock_.advance(static_cast<uint32_t>(wait));
            sim::WireByte b = sim::receivedAs(module_.takeByte(), rate_);
            if (lineErrorsOnNextReads > 0) {
                --lineErrorsOnNextReads;
                b.lineError = true;
            }
            pendingLineError_ = pendingLineError_ || b.lineError;
            *byte = b.value;
            *got = true;
            record(Event::Kind::ModuleByte, std::string(1, static_cast<char>(b.value)));
            return true;
        }
    }
    clock_.advance(kReadTimeoutMs);
    return true;
}

uint32_t FakeSerialOs::write(const uint8_t* bytes, uint32_t count) {
    if (!deviceAlive()) return 0;
    record(Event::Kind::Write, std::string(reinterpret_cast<const char*>(bytes), count), rate_);
    module_.receive(bytes, count, rate_, now());
    return count;
}

void FakeSerialOs::close() {
    open_ = false;
    record(Event::Kind::Close);
    if (onClose) onClose();
}

}  // namespace kestrel::test
