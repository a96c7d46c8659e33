// Following the module across USB re-enumeration: after the download command its port may
// come back under another name; the session finds it at the module's physical place.
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

// An update over USB whose port drops 200 ms after the OK and returns 3000 ms later as
// `returnsAs`, at the module's place or `elsewhere`.
struct UsbRun : UpdateRun {
    explicit UsbRun(const std::string& returnsAs, bool elsewhere = false)
        : UpdateRun(makeRecords(3), usbModule(), false), returning(w.os, returnsAs, elsewhere) {
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
    const UsbRun r("/dev/ttyACM5", true);
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot reopen USB port.");
    EXPECT_EQ(r.returning.lookups, 80);
    const auto all = r.dialogue();
    EXPECT_EQ(count(all, "open failed /dev/ttyACM5"), 0u);
    EXPECT_EQ(count(all, "open failed COM1"), 80u);
    EXPECT_EQ(count(all, "record 0"), 0u);
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
