// The serial OS layer as the unit tests see it: a device wired to a simulated module on a
// virtual clock, which records everything the driver does on a timeline.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "module_model.h"
#include "serial/serial_os.h"
#include "support/virtual_clock.h"

namespace kestrel::test {

struct Event {
    enum class Kind { Open, OpenFailed, Close, Settings, Dtr, Purge, Write, ModuleByte };
    Kind kind;
    uint32_t atMs;      // virtual ms since the clock started
    std::string text;   // name for Open/OpenFailed; bytes for Write/ModuleByte
    uint32_t rate = 0;  // Settings: the rate applied
    bool on = false;    // Dtr: new level; Settings: DTR mode enabled
};

class FakeSerialOs final : public SerialOs {
  public:
    FakeSerialOs(VirtualClock& clock, sim::ModuleModel& module) : clock_(clock), module_(module) {}

    // --- how the device behaves ---
    std::set<std::string> devices{"COM1"};     // names that open
    std::map<uint32_t, uint32_t> substitutes;  // requested rate -> rate the device runs at
    std::set<uint32_t> refusedRates;           // rates the device refuses
    bool modemStatusFails = false;             // CTS cannot be read
    bool lineErrorQueryFails = false;
    bool timeoutsRefused = false;
    // Every byte read while this many more reads are due comes with a line error.
    int lineErrorsOnNextReads = 0;
    // Called as the driver opens the port, reads a byte and closes the port (to watch or to
    // change the device at those moments).
    std::function<void()> onOpen, onRead, onClose;

    // --- what the driver did ---
    std::vector<Event> events;
    bool isOpen() const { return open_; }
    uint32_t rate() const { return rate_; }
    bool dtr() const { return dtr_; }
    // The events of one kind, in order.
    std::vector<Event> eventsOf(Event::Kind kind) const {
        std::vector<Event> out;
        for (const Event& e : events)
            if (e.kind == kind) out.push_back(e);
        return out;
    }

    // --- SerialOs ---
    bool open(const char* name, SystemError* why) override {
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
    bool applySettings(const LineSettings& s) override {
        if (refusedRates.count(s.rate)) return false;
        auto sub = substitutes.find(s.rate);
        rate_ = sub == substitutes.end() ? s.rate : sub->second;
        record(Event::Kind::Settings, {}, s.rate, s.dtrOn);
        // Applying the record drives DTR to its recorded mode, as a real device does.
        setDtr(s.dtrOn);
        return true;
    }
    bool readRate(uint32_t* rate) override {
        *rate = rate_;
        return true;
    }
    bool applyTimeouts() override { return !timeoutsRefused; }
    bool setDtr(bool on) override {
        if (on != dtr_) record(Event::Kind::Dtr, {}, 0, on);
        dtr_ = on;
        module_.setDtr(on, now());
        return true;
    }
    bool readCts(bool* on) override {
        if (modemStatusFails) return false;
        *on = deviceAlive() && module_.cts(now());
        return true;
    }
    bool purge() override {
        record(Event::Kind::Purge);
        return dropInput();
    }
    bool dropInput() override {
        module_.discardDue(now());
        pendingLineError_ = false;
        return true;
    }
    bool bytesWaiting(uint32_t* count) override {
        uint32_t due = 0;
        *count =
            deviceAlive() && module_.nextByteDue(&due) && static_cast<int32_t>(due - now()) <= 0
                ? 1
                : 0;
        return true;
    }
    bool takeLineErrors(bool* any) override {
        if (lineErrorQueryFails) return false;
        *any = pendingLineError_;
        pendingLineError_ = false;
        return true;
    }
    bool readByte(uint8_t* byte, bool* got) override {
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
    uint32_t write(const uint8_t* bytes, uint32_t count) override {
        if (!deviceAlive()) return 0;
        record(Event::Kind::Write, std::string(reinterpret_cast<const char*>(bytes), count), rate_);
        module_.receive(bytes, count, rate_, now());
        return count;
    }
    void close() override {
        open_ = false;
        record(Event::Kind::Close);
        if (onClose) onClose();
    }

  private:
    void record(Event::Kind kind, std::string text = {}, uint32_t rate = 0, bool on = false) {
        events.push_back(Event{kind, clock_.elapsed(), std::move(text), rate, on});
    }
    uint32_t now() const { return clock_.nowMs(); }
    bool deviceAlive() const {
        return module_.portPresent(now()) && !(module_.vanished() && module_.config().usb);
    }

    VirtualClock& clock_;
    sim::ModuleModel& module_;
    bool open_ = false;
    bool dtr_ = false;
    uint32_t rate_ = 0;
    bool pendingLineError_ = false;
};

}  // namespace kestrel::test
