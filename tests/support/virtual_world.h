// Everything a session test needs: a virtual clock, a simulated module behind a fake serial
// device, the port and image objects a session works with, a front end. Nothing is installed
// anywhere: each world is on its own, and several may run at once.
#pragma once

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "image/firmware_image.h"
#include "module_model.h"
#include "platform/clock.h"
#include "serial/port_locator.h"
#include "serial/port_lock.h"
#include "serial/serial_port.h"
#include "session/update_session.h"
#include "support/fake_serial_os.h"
#include "support/recording_host.h"
#include "support/test_image.h"
#include "support/virtual_clock.h"

namespace kestrel::test {

// A claim on COM1 that counts what the session does with it; `refuse`: held elsewhere.
struct CountingLock final : PortLock {
    bool acquire(const char* portName, SystemError* why) override {
        ++acquired;
        if (refuse) why->set(EBUSY, portName);
        return held = !refuse;
    }
    void release() override { ++released, held = false; }
    const char* identity() const override { return "COM1"; }
    bool refuse = false, held = false;
    int acquired = 0, released = 0;
};

// The host's device tree after the download command: the old name is gone and the port is
// back as `returnsAs`, found at the module's place unless it came back `elsewhere` (on
// another USB device).
struct ReturningPort final : PortLocator {
    ReturningPort(FakeSerialOs& os, std::string returnsAs, bool elsewhere = false)
        : os(os), returnsAs(std::move(returnsAs)), elsewhere(elsewhere) {}
    bool remember(const char* portName) override {
        remembered = portName;
        os.devices = {returnsAs};
        return true;
    }
    bool findReturned(char* path, size_t capacity) override {
        ++lookups;
        if (elsewhere || returnsAs.size() + 1 > capacity) return false;
        std::memcpy(path, returnsAs.c_str(), returnsAs.size() + 1);
        return true;
    }
    FakeSerialOs& os;
    std::string returnsAs, remembered;
    bool elsewhere;
    int lookups = 0;
};

class VirtualWorld {
  public:
    explicit VirtualWorld(sim::ModuleConfig config = {}, uint32_t clockStartMs = 1000)
        : clock(clockStartMs),
          module(std::move(config)),
          os(clock, module),
          port(os, clock),
          host(clock) {}
    VirtualWorld(const VirtualWorld&) = delete;
    VirtualWorld& operator=(const VirtualWorld&) = delete;

    // Appends `records` to a program file that the world's image is then read from.
    void useImage(const std::vector<Record>& records, const std::vector<uint8_t>& trailing = {}) {
        file.emplace(records, 99744, trailing);
        image = std::make_unique<FirmwareImage>(file->path().c_str());
    }

    // One whole session against this world.
    SessionOutcome runSession() {
        return runUpdateSession(host, {port, *image, lock, journal, nullptr, locator});
    }

    VirtualClock clock;
    sim::ModuleModel module;
    FakeSerialOs os;
    SerialPort port;
    RecordingHost host;
    std::optional<TestImageFile> file;
    // Without useImage(): no program file at all.
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>(nullptr);
    PortLock* lock = nullptr;
    RateJournal* journal = nullptr;
    PortLocator* locator = nullptr;
};

}  // namespace kestrel::test
