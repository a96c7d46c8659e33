// The serial OS layer as the unit tests see it: a device wired to a simulated module on a
// virtual clock, which records everything the driver does on a timeline.
#pragma once

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
    std::vector<Event> eventsOf(Event::Kind kind) const;

    // --- SerialOs ---
    bool open(const char* name, SystemError* why) override;
    bool applySettings(const LineSettings& settings) override;
    bool readRate(uint32_t* rate) override;
    bool applyTimeouts() override;
    bool setDtr(bool on) override;
    bool readCts(bool* on) override;
    bool purge() override;
    bool dropInput() override;
    bool bytesWaiting(uint32_t* count) override;
    bool takeLineErrors(bool* any) override;
    bool readByte(uint8_t* byte, bool* got) override;
    uint32_t write(const uint8_t* bytes, uint32_t count) override;
    void close() override;

  private:
    void record(Event::Kind kind, std::string text = {}, uint32_t rate = 0, bool on = false);
    uint32_t now() const { return clock_.nowMs(); }
    bool deviceAlive() const;

    VirtualClock& clock_;
    sim::ModuleModel& module_;
    bool open_ = false;
    bool dtr_ = false;
    uint32_t rate_ = 0;
    bool pendingLineError_ = false;
};

}  // namespace kestrel::test
