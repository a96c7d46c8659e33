// Following the module across USB re-enumeration: after the download command its port may
// come back under another name; the session finds it at the module's physical place.
#include <gtest/gtest.h>

#include <cstring>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;

// Stands for the host's device tree: the port returns as `returnsAs` (empty: on another USB
// device, so nothing is found at the module's place). The old name is gone for good.
struct ReturningPort final : PortLocator {
    ReturningPort(FakeSerialOs& os, std::string returnsAs) : os(os), returnsAs(returnsAs) {}
    bool remember(const char* portName) override {
        remembered = portName;
        os.devices = {returnsAs.empty() ? "/dev/ttyACM5" : returnsAs};
        return true;
    }
    bool findReturned(char* path, size_t capacity) override {
        ++lookups;
        if (returnsAs.empty() || returnsAs.size() + 1 > capacity) return false;
        std::memcpy(path, returnsAs.c_str(), returnsAs.size() + 1);
        return true;
    }
    FakeSerialOs& os;
    std::string returnsAs;
    std::string remembered;
    int lookups = 0;
};

sim::ModuleConfig usbModule() {
    sim::ModuleConfig c;
    c.usb = true;
    c.usbDropMs = 200;
    c.usbGoneMs = 3000;
    return c;
}

TEST(UsbReturn, APortBackUnderAnotherNameIsFollowedAndTheTransferGoesOn) {
    UpdateRun r(makeRecords(3), usbModule(), false);
    r.w.host.fields.usb = true;
    ReturningPort returning(r.w.os, "/dev/ttyACM1");
    r.w.locator = &returning;
    r.run();
    EXPECT_EQ(returning.remembered, "COM1");
    EXPECT_EQ(r.w.host.texts(),
              (Texts{"", "INFO: USB port returned as /dev/ttyACM1.", "Waiting for start signal.",
                     "Firmware download in progress.",
                     "Download succeeded, finishing update process.", "Download succeeded."}));
    const auto opens = r.w.os.eventsOf(Event::Kind::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].text, "/dev/ttyACM1");
    EXPECT_TRUE(r.w.module.imageComplete());
    EXPECT_TRUE(r.outcome.succeeded());
}

TEST(UsbReturn, APortOnAnotherUsbDeviceIsNeverTakenAndTheUsualWaitEnds) {
    UpdateRun r(makeRecords(3), usbModule(), false);
    r.w.host.fields.usb = true;
    ReturningPort elsewhere(r.w.os, "");
    r.w.locator = &elsewhere;
    r.run();
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot reopen USB port.");
    EXPECT_EQ(elsewhere.lookups, 80);
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);
    const auto closes = r.w.os.eventsOf(Event::Kind::Close);
    EXPECT_EQ(r.w.host.statuses.back().atMs - r.w.clock.start(), closes.at(0).atMs + 2000 + 8000);
    EXPECT_EQ(r.outcome.result, SessionResult::UsbPortNotReopened);
}

}  // namespace
}  // namespace kestrel::test
