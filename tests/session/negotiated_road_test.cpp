// Whole updates of a module with working firmware: the AT dialogue that brings it into
// download mode, the transfer, and the hand-back, over RS-232 and over USB, where the port
// may come back under another name after the download command.
#include <gtest/gtest.h>

#include <cerrno>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using M = sim::ModuleConfig;
const std::string kFinishing = "Download succeeded, finishing update process.";

// A negotiated update over RS-232 (or USB) with `name` in the firmware field.
struct Road : UpdateRun {
    Road(std::vector<Record> recs, sim::ModuleConfig config, const char* name = "",
         bool usb = false)
        : UpdateRun(std::move(recs), std::move(config), false) {
        copyText(w.host.fields.firmwareName, name);
        w.host.fields.usb = usb;
        run();
    }
};

// The hand-back of the typical road: re-opened 1000 ms after the close, the module found at
// 115200 at once, 57600 restored, switched off 1000 ms after the port followed.
const Texts kRestoration = split(
    "20634 open COM1|20634 rate 115200|20734 restart|21134 rate 115200|23534 > ATE1V1Q0\\r|"
    "23789 > AT+IPR=57600\\r|23841 rate 57600|27291 > AT^SMSO\\r|27343 close");

TEST(NegotiatedRoad, TypicalUpdateModuleAt57600OperatorAsks115200) {
    Road r(makeRecords(3), firmwareModule(57600));
    // After the 1000 ms pause: a restart (DTR low 100 ms, 300 ms, CTS settled 100 ms), then each
    // rate probed 2400 ms after the switch to it (1500, DTR pulse 400, 500), 205 ms a probe.
    // Found at 57600, the confirmation at 115200 fails: back to 57600, where the original rate
    // is asked and the module moved (each command 50 ms after the last reply, which takes
    // 2 + 50 ms); the port follows.
    EXPECT_EQ(r.dialogue(true),
              split("0 open COM1|0 rate 115200|1100 restart|1500 rate 115200|3900 > ATE1V1Q0\\r|"
                    "4105 rate 460800|6505 > ATE1V1Q0\\r|6710 rate 230400|9110 > ATE1V1Q0\\r|"
                    "9315 rate 57600|11715 > ATE1V1Q0\\r|11920 rate 115200|14320 > ATE1V1Q0\\r|"
                    "14525 rate 57600|16975 > AT+IPR?\\r|17077 > AT+IPR=115200\\r|"
                    "17129 rate 115200|19579 > AT^SFDL\\r|19631 record 0|19632 record 1|"
                    "19633 record 2|19634 close") +
                  kRestoration);
    EXPECT_EQ(r.statusLines(),
              split("0 |17027 INFO: original baudrate = 57600|19631 Waiting for start signal.|"
                    "19631 Firmware download in progress.|19634 " +
                    kFinishing + "|27343 Download succeeded."));
    EXPECT_TRUE(r.w.module.switchedOff());
    EXPECT_EQ(r.w.module.config().rate, 57600u);  // back at its own rate
    r.expectReleased();
}

TEST(NegotiatedRoad, ModuleWithoutAtAnswersGetsTheWarningAndTheFallbackEntry) {
    Road r(makeRecords(2), loaderModule());  // no firmware: only its loader listens
    Texts pass{"restart"};
    for (uint32_t rate : {115200, 460800, 230400, 57600, 38400, 19200})
        pass = pass + Texts{"rate " + std::to_string(rate), "> ATE1V1Q0\\r"};
    EXPECT_EQ(r.dialogue(), split("open COM1|rate 115200") + pass + pass +
                                split("close|open COM1|rate 57600|restart|> AT^SFDL\\r|record 0|"
                                      "record 1|close"));
    ASSERT_GE(r.w.host.statuses.size(), 2u);
    EXPECT_EQ(r.statusLines()[1],
              std::to_string(1000 + 2 * kRestartMs + 12 * kSlotMs) +
                  " WARNING: AT-Command-Mode not detected (trying fall back with 57600).");
    EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
}

TEST(HandBack, UusfNameRestartsTheModuleInsteadOfRestoringItsRate) {
    // Only a name that ends in ".uusf" after at least one character is a block update: the
    // port re-opened 1000 ms after the close, a restart, 5000 ms, close.
    const Texts blockUpdate = split("20634 open COM1|20634 rate 115200|20734 restart|26134 close");
    for (const char* name : {"update.UUSF", ".uusf"}) {
        Road r(makeRecords(3), firmwareModule(57600), name);  // times as on the typical road
        const bool block = name[0] != '.';
        EXPECT_EQ(transcriptFromOpen(r.dialogue(true), 1), block ? blockUpdate : kRestoration);
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
        EXPECT_EQ(r.w.module.switchedOff(), !block);
    }
}

TEST(HandBack, PortThatCannotBeReopenedIsNoSuccess) {
    for (const auto& [name, what] : {std::pair{"x.uusf", "perform block update."},
                                     {"", "change back to original baudrate."}}) {
        FakeSerialOs* os = nullptr;
        auto config = firmwareModule(57600);
        config.answers = unplugAfterLastRecord(2, &os);
        UpdateRun r(makeRecords(2), config, false);
        copyText(r.w.host.fields.firmwareName, name);
        os = &r.w.os;
        r.run();
        // One try 1000 ms after the close; the outcome keeps why it failed.
        const Texts all = r.dialogue();
        EXPECT_EQ(Texts(all.end() - 2, all.end()), split("close|open failed COM1"));
        EXPECT_EQ(r.outcome.result, SessionResult::HandBackFailed);
        EXPECT_EQ(r.outcome.reason.code, ENOENT);
        EXPECT_EQ(r.statusLines().back(),
                  std::to_string(r.w.os.eventsOf(Event::Kind::Close).back().atMs + 1000) +
                      " ERROR: cannot access COM port to " + what);
        EXPECT_FALSE(r.w.host.showed("Download succeeded."));
        EXPECT_TRUE(r.w.module.imageComplete());
        r.expectReleased();
    }
}

TEST(UsbRoad, NoRateCommandsAndTheVanishedPortIsReopenedWithoutHandBack) {
    Road r(makeRecords(2), usbModule(), "fw.uusf", true);  // no block-update finish on USB
    // The port drops 200 ms after the OK and stays away 3000 ms; the session waits 2000 ms and
    // then tries every 100 ms: 11 fail.
    Texts expected = split(
        "0 open COM1|0 rate 115200|1100 restart|1500 rate 115200|3900 > ATE1V1Q0\\r|"
        "4155 > AT^SFDL\\r|4207 close");
    for (int i = 0; i < 11; ++i)
        expected.push_back(std::to_string(6307 + 100 * i) + " open failed COM1");
    EXPECT_EQ(r.dialogue(true),
              expected + split("7407 open COM1|7407 rate 115200|7457 record 0|7458 record 1|"
                               "7459 close"));
    EXPECT_EQ(r.w.host.texts(), split("|Waiting for start signal.|Firmware download in progress.|" +
                                      kFinishing + "|Download succeeded."));
}

// Following the module across USB re-enumeration: after the download command its port may
// come back under another name; the session finds it at the module's physical place.
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
