// Everything a session test needs, installed for the test's lifetime: a virtual clock, a
// simulated module behind a fake serial device, a program file with an image, a front end.
#pragma once

#include <memory>
#include <optional>

#include "image/firmware_image.h"
#include "module_model.h"
#include "platform/clock.h"
#include "platform/own_file.h"
#include "serial/serial_port.h"
#include "support/fake_serial_os.h"
#include "support/recording_host.h"
#include "support/test_image.h"
#include "support/virtual_clock.h"

namespace kestrel::test {

class VirtualWorld {
  public:
    explicit VirtualWorld(sim::ModuleConfig config = {}, uint32_t clockStartMs = 1000)
        : clock(clockStartMs), module(std::move(config)), os(clock, module) {
        setClock(&clock);
        setSerialOs(&os);
    }
    ~VirtualWorld() {
        closePort();
        closeImage();
        setSerialOs(nullptr);
        setClock(nullptr);
        overrideOwnProgramPath(nullptr);
    }
    VirtualWorld(const VirtualWorld&) = delete;
    VirtualWorld& operator=(const VirtualWorld&) = delete;

    // Appends `records` to a program file the image reader will take as its own.
    void useImage(const std::vector<Record>& records, const std::vector<uint8_t>& trailing = {}) {
        image.emplace(records, 99744, trailing);
        overrideOwnProgramPath(image->path().c_str());
    }

    VirtualClock clock;
    sim::ModuleModel module;
    FakeSerialOs os;
    RecordingHost host;
    std::optional<TestImageFile> image;
};

}  // namespace kestrel::test
