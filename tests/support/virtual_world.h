// Everything a session test needs: a virtual clock, a simulated module behind a fake serial
// device, the port and image objects a session works with, a front end. Nothing is installed
// anywhere: each world is on its own, and several may run at once.
#pragma once

#include <memory>
#include <optional>

#include "image/firmware_image.h"
#include "module_model.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "session/update_session.h"
#include "support/fake_serial_os.h"
#include "support/recording_host.h"
#include "support/test_image.h"
#include "support/virtual_clock.h"

namespace kestrel::test {

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
