// Whole updates of a module with working firmware: the AT dialogue that brings it into
// download mode, the transfer, and the hand-back, over RS-232 and over USB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kFinishing = "Download succeeded, finishing update process.";

// One pass of the detection as the module sees it: a restart, then each of `tried` switched
// to and probed, in order.
Texts detectionDialogue(const std::vector<uint32_t>& tried) {
    Texts out{"restart"};
    for (uint32_t r : tried) {
        out.push_back("rate " + std::to_string(r));
        out.push_back("> ATE1V1Q0\\r");
    }
    return out;
}

Texts operator+(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A negotiated update over RS-232 (or USB) with `name` in the firmware field.
struct Road : UpdateRun {
    Road(std::vector<Record> recs, sim::ModuleConfig config, const char* name = "",
         bool usb = false)
        : UpdateRun(std::move(recs), std::move(config), false) {
        copyText(w.host.fields.firmwareName, name);
        w.host.fields.usb = usb;
    }
};

TEST(NegotiatedRoad, TypicalUpdateModuleAt57600OperatorAsks115200) {
    Road r(makeRecords(3), firmwareModule(57600));
    r.run();
    // Found at 57600 after 115200, 460800 and 230400; the confirmation at 115200 fails. The
    // hand-back re-opens at the operator's rate, finds the module there, restores, switches off.
    const Texts expected =
        Texts{"open COM1", "rate 115200"} +
        detectionDialogue({115200, 460800, 230400, 57600, 115200}) +
        Texts{"rate 57600",   "> AT+IPR?\\r", "> AT+IPR=115200\\r", "rate 115200",
              "> AT^SFDL\\r", "record 0",     "record 1",           "record 2",
              "close",        "open COM1",    "rate 115200"} +
        detectionDialogue({115200}) +
        Texts{"> AT+IPR=57600\\r", "rate 57600", "> AT^SMSO\\r", "close"};
    EXPECT_EQ(r.dialogue(), expected);
    EXPECT_EQ(r.w.host.texts(),
              (Texts{"", "INFO: original baudrate = 57600", "Waiting for start signal.",
                     "Firmware download in progress.", kFinishing, "Download succeeded."}));

    // Times: the detection starts after the 1000 ms pause; each slot is a switch and a probe.
    const auto& os = r.w.os;
    const auto probes = writesOf(os, "ATE1V1Q0\r");
    ASSERT_EQ(probes.size(), 6u);
    for (uint32_t k = 0; k < 5; ++k)
        EXPECT_EQ(probes[k].atMs, 1000 + kRestartMs + k * kSlotMs + kSwitchMs) << k;
    const uint32_t detected = 1000 + kRestartMs + 5 * kSlotMs + kSwitchMs;
    struct Timed {
        const char* bytes;
        uint32_t atMs;
        uint32_t rate;
    } entry[] = {
        {"AT+IPR?\r", detected + kBeforeSendMs, 57600},
        {"AT+IPR=115200\r", detected + kAnsweredMs + kBeforeSendMs, 57600},  // at its own rate
        {"AT^SFDL\r", detected + 2 * kAnsweredMs + kSwitchMs + kBeforeSendMs, 115200},
    };
    for (const Timed& t : entry) {
        EXPECT_EQ(writesOf(os, t.bytes).at(0).atMs, t.atMs) << escaped(t.bytes);
        EXPECT_EQ(writesOf(os, t.bytes).at(0).rate, t.rate) << escaped(t.bytes);
    }
    EXPECT_EQ(r.w.host.statuses[1].atMs - r.w.clock.start(), detected + kAnsweredMs);

    // The hand-back re-opens 1000 ms after the close, restores at 115200 and switches off
    // 1000 ms after the port followed to 57600.
    const uint32_t reopened = os.eventsOf(Event::Kind::Open).at(1).atMs;
    EXPECT_EQ(reopened - os.eventsOf(Event::Kind::Close).at(0).atMs, 1000u);
    const auto restore = writesOf(os, "AT+IPR=57600\r").at(0);
    EXPECT_EQ(restore.atMs, reopened + kRestartMs + kSlotMs + kBeforeSendMs);
    EXPECT_EQ(restore.rate, 115200u);
    const auto off = writesOf(os, "AT^SMSO\r").at(0);
    EXPECT_EQ(off.atMs, restore.atMs + kAnsweredMs + kSwitchMs + 1000);
    EXPECT_EQ(off.rate, 57600u);

    EXPECT_TRUE(r.w.module.imageComplete());
    EXPECT_TRUE(r.w.module.switchedOff());
    EXPECT_EQ(r.w.module.config().rate, 57600u);  // back at its own rate
    EXPECT_EQ(r.w.host.positions.back(), 3);
    r.expectReleased();
}

TEST(NegotiatedRoad, ModuleWithoutAtAnswersGetsTheWarningAndTheFallbackEntry) {
    Road r(makeRecords(2), loaderModule());  // no firmware: only its loader listens
    r.run();
    const std::vector<uint32_t> pass{115200, 460800, 230400, 57600, 38400, 19200};
    const Texts expected = Texts{"open COM1", "rate 115200"} + detectionDialogue(pass) +
                           detectionDialogue(pass) +
                           Texts{"close",        "open COM1", "rate 57600", "restart",
                                 "> AT^SFDL\\r", "record 0",  "record 1",   "close"};
    EXPECT_EQ(r.dialogue(), expected);
    ASSERT_GE(r.w.host.statuses.size(), 2u);
    EXPECT_EQ(r.w.host.statuses[1].text,
              "WARNING: AT-Command-Mode not detected (trying fall back with 57600).");
    EXPECT_EQ(r.w.host.statuses[1].atMs - r.w.clock.start(), 1000 + 2 * kRestartMs + 12 * kSlotMs);
    EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(r.w.module.imageComplete());
}

TEST(NegotiatedRoad, RefusedDownloadCommandEndsTheSessionBeforeAnyTransfer) {
    auto config = firmwareModule(115200);
    config.refusedCommands = {"AT^SFDL"};
    Road r(makeRecords(2), config);
    r.run();
    EXPECT_EQ(r.w.host.texts(), (Texts{"", "INFO: original baudrate = 115200",
                                       "ERROR: Cannot send download command."}));
    const auto all = r.dialogue();
    EXPECT_EQ(std::count(all.begin(), all.end(), "> AT^SFDL\\r"),
              1);                                              // an ERROR is final: no second send
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);  // no hand-back
    EXPECT_EQ(r.w.host.positions.back(), 0);
    r.expectReleased();
}

TEST(NegotiatedRoad, FailedTransferIsStillFollowedByTheHandBack) {
    auto config = firmwareModule(57600);
    config.answers = [](int block, int) {
        return sim::BlockAnswer{sim::BlockAnswer::Kind::Byte, uint8_t(block == 1 ? 0x15 : 0x01)};
    };
    Road r(makeRecords(3), config);
    r.run();
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: unexpected or fatal response (0x15) to block 1.");
    EXPECT_FALSE(r.w.host.showed("Download succeeded."));
    EXPECT_EQ(writesOf(r.w.os, "AT+IPR=57600\r").size(), 1u);
    EXPECT_EQ(writesOf(r.w.os, "AT^SMSO\r").size(), 1u);
    EXPECT_EQ(r.w.host.positions.back(), 3);
}

TEST(HandBack, UusfNameRestartsTheModuleInsteadOfRestoringItsRate) {
    // Only a name that ends in ".uusf" after at least one character is a block update.
    const Texts blockUpdate{"open COM1", "rate 115200", "restart", "close"};
    const Texts restoration = Texts{"open COM1", "rate 115200"} + detectionDialogue({115200}) +
                              Texts{"> AT+IPR=57600\\r", "rate 57600", "> AT^SMSO\\r", "close"};
    for (const auto& c :
         {std::make_pair("update.UUSF", blockUpdate), std::make_pair(".uusf", restoration)}) {
        Road r(makeRecords(2), firmwareModule(57600), c.first);
        r.run();
        EXPECT_EQ(transcriptFromOpen(r.dialogue(), 1), c.second) << c.first;
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
        EXPECT_EQ(r.w.module.switchedOff(), c.second == restoration);
        if (c.second == blockUpdate) {
            // Re-open 1000 ms after the close, restart, 5000 ms, close.
            const auto opens = r.w.os.eventsOf(Event::Kind::Open);
            const auto closes = r.w.os.eventsOf(Event::Kind::Close);
            EXPECT_EQ(opens.at(1).atMs - closes.at(0).atMs, 1000u);
            EXPECT_EQ(closes.at(1).atMs - opens.at(1).atMs, kRestartMs + 5000);
        }
    }
}

TEST(HandBack, PortThatCannotBeReopenedIsNoSuccess) {
    for (const auto& c : {std::make_pair("x.uusf",
                                         "ERROR: cannot access COM port to perform "
                                         "block update."),
                          std::make_pair("",
                                         "ERROR: cannot access COM port to change back to "
                                         "original baudrate.")}) {
        FakeSerialOs* os = nullptr;
        auto config = firmwareModule(57600);
        config.answers = unplugAfterLastRecord(2, &os);
        Road r(makeRecords(2), config, c.first);
        os = &r.w.os;
        r.run();
        // One try 1000 ms after the close; the outcome keeps why it failed.
        const auto all = r.dialogue();
        EXPECT_EQ(Texts(all.end() - 2, all.end()), (Texts{"close", "open failed COM1"}));
        EXPECT_EQ(r.outcome.result, SessionResult::HandBackFailed);
        EXPECT_EQ(r.outcome.reason.code, ENOENT);
        EXPECT_EQ(r.w.host.lastStatus(), c.second);
        EXPECT_EQ(r.w.host.statuses.back().atMs - r.w.clock.start(),
                  r.w.os.eventsOf(Event::Kind::Close).back().atMs + 1000);
        EXPECT_FALSE(r.w.host.showed("Download succeeded."));
        EXPECT_TRUE(r.w.module.imageComplete());
        EXPECT_EQ(r.w.host.positions.back(), 2);
        r.expectReleased();
    }
}

sim::ModuleConfig usbModule(uint32_t goneMs) {
    auto c = firmwareModule(115200);
    c.usb = true;
    c.usbDropMs = 200;
    c.usbGoneMs = goneMs;
    return c;
}

TEST(UsbRoad, NoRateCommandsAndTheVanishedPortIsReopenedWithoutHandBack) {
    Road r(makeRecords(2), usbModule(3000), "fw.uusf", true);  // no block-update finish on USB
    r.run();
    // The port drops 200 ms after the OK and stays away 3000 ms; the session waits 2000 ms and
    // then tries every 100 ms: 11 fail.
    Texts expected = Texts{"open COM1", "rate 115200"} + detectionDialogue({115200}) +
                     Texts{"> AT^SFDL\\r", "close"};
    for (int i = 0; i < 11; ++i)
        expected = expected + Texts{"open failed COM1"};
    expected = expected + Texts{"open COM1", "rate 115200", "record 0", "record 1", "close"};
    EXPECT_EQ(r.dialogue(), expected);
    const uint32_t closedAt = 1000 + kRestartMs + kSlotMs + kBeforeSendMs + 2 + 50;
    EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).at(1).atMs, closedAt + 2000 + 100 * 12);
    EXPECT_EQ(r.w.host.texts(),
              (Texts{"", "Waiting for start signal.", "Firmware download in progress.", kFinishing,
                     "Download succeeded."}));
    EXPECT_TRUE(r.w.module.imageComplete());
}

TEST(UsbRoad, PortThatNeverComesBackEndsAfter80Tries) {
    Road r(makeRecords(2), usbModule(60000), "", true);
    r.run();
    const auto all = r.dialogue();
    EXPECT_EQ(std::count(all.begin(), all.end(), "open failed COM1"), 80);
    EXPECT_EQ(std::count(all.begin(), all.end(), "record 0"), 0);
    EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot reopen USB port.");
    const auto closes = r.w.os.eventsOf(Event::Kind::Close);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(r.w.host.statuses.back().atMs - r.w.clock.start(), closes[0].atMs + 2000 + 80 * 100);
    r.expectReleased();
}

}  // namespace
}  // namespace kestrel::test
