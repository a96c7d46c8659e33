// Following the module across USB re-enumeration: after the download command its port may
// come back under another name; the session finds it at the module's physical place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

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
    std::string returnsAs, remembered;
    int lookups = 0;
};

// An update over USB whose port drops 200 ms after the OK and returns 3000 ms later as
// `returnsAs`.
struct UsbRun : UpdateRun {
    explicit UsbRun(const std::string& returnsAs)
        : UpdateRun(makeRecords(3), usbModule(), false), returning(w.os, returnsAs) {
        w.host.fields.usb = true;
        w.locator = &returning;
        run();
    }
    ReturningPort returning;
};

TEST(UsbReturn, APortBackUnderAnotherNameIsFollowedAndTheTransferGoesOn) {
    const UsbRun r("/dev/ttyACM1");
    EXPECT_EQ(r.returning.remembered, "COM1");
    EXPECT_EQ(r.w.host.texts(),
              split("|INFO: USB port returned as /dev/ttyACM1.|Waiting for start signal.|Firmware "
                    "download in progress.|Download succeeded, finishing update process.|"
                    "Download succeeded."));
    const auto opens = r.w.os.eventsOf(Event::Kind::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].text, "/dev/ttyACM1");
    EXPECT_TRUE(r.w.module.imageComplete());
    EXPECT_TRUE(r.outcome.succeeded());
}

// Nothing at the module's place and the old name gone: 80 tries, 100 ms apart after the first
// 2000 ms, then the session ends without a transfer.
TEST(UsbReturn, APortOnAnotherUsbDeviceIsNeverTakenAndTheUsualWaitEnds) {
    const UsbRun r("");
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot reopen USB port.");
    EXPECT_EQ(r.returning.lookups, 80);
    const auto all = r.dialogue();
    EXPECT_EQ(std::count(all.begin(), all.end(), "open failed /dev/ttyACM5"), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), "open failed COM1"), 80);
    EXPECT_EQ(std::count(all.begin(), all.end(), "record 0"), 0);
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);
    const auto closes = r.w.os.eventsOf(Event::Kind::Close);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(r.statusLines().back(),
              std::to_string(closes[0].atMs + 2000 + 8000) + " ERROR: Cannot reopen USB port.");
    EXPECT_EQ(r.outcome.result, SessionResult::UsbPortNotReopened);
    r.expectReleased();
}

}  // namespace
}  // namespace kestrel::test
