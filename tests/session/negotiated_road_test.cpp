// Whole updates of a module with working firmware: the AT dialogue that brings it into
// download mode, the transfer, and the hand-back, over RS-232 and over USB.
#include <gtest/gtest.h>

#include "session/negotiated_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

const char* const kProbe = "> ATE1V1Q0\\r";
const std::string kFinishing = "Download succeeded, finishing update process.";

// One pass of the detection as the module sees it: a restart, then each of `tried` switched
// to and probed, in order.
std::vector<std::string> detectionDialogue(const std::vector<uint32_t>& tried) {
    std::vector<std::string> out{"restart"};
    for (uint32_t r : tried) {
        out.push_back("rate " + std::to_string(r));
        out.push_back(kProbe);
    }
    return out;
}

void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

TEST(NegotiatedRoad, TypicalUpdateModuleAt57600OperatorAsks115200) {
    const auto records = makeRecords(3);
    VirtualWorld w(firmwareModule(57600, records));
    w.useImage(records);
    negotiatedFields(w.host, "115200");

    runUpdateSession(w.host);

    std::vector<std::string> expected{"open COM1", "rate 115200"};
    // Found at 57600 after 115200, 460800 and 230400; the confirmation at 115200 fails.
    append(expected, detectionDialogue({115200, 460800, 230400, 57600, 115200}));
    append(expected, {"rate 57600", "> AT+IPR?\\r", "> AT+IPR=115200\\r", "rate 115200",
                      "> AT^SFDL\\r", "record 0", "record 1", "record 2", "close"});
    // Hand-back: re-open at the operator's rate, find the module there, restore, switch off.
    append(expected, {"open COM1", "rate 115200"});
    append(expected, detectionDialogue({115200}));
    append(expected, {"> AT+IPR=57600\\r", "rate 57600", "> AT^SMSO\\r", "close"});
    EXPECT_EQ(transcript(w.os, records), expected);

    EXPECT_EQ(w.host.texts(),
              (std::vector<std::string>{
                  "", "INFO: original baudrate = 57600", "Waiting for start signal.",
                  "Firmware download in progress.", kFinishing, "Download succeeded."}));

    // Times: the detection starts after the 1000 ms pause; each slot is a switch and a probe.
    const uint32_t detectAt = 1000;
    const auto probes = writesOf(w.os, "ATE1V1Q0\r");
    ASSERT_EQ(probes.size(), 6u);
    for (uint32_t k = 0; k < 5; ++k)
        EXPECT_EQ(probes[k].atMs, detectAt + kRestartMs + k * kSlotMs + kSwitchMs) << k;
    const uint32_t detected = detectAt + kRestartMs + 5 * kSlotMs + kSwitchMs;
    const auto query = writesOf(w.os, "AT+IPR?\r");
    ASSERT_EQ(query.size(), 1u);
    EXPECT_EQ(query[0].atMs, detected + kBeforeSendMs);
    EXPECT_EQ(query[0].rate, 57600u);
    EXPECT_EQ(w.host.statuses[1].atMs - w.clock.start(), detected + kAnsweredMs);
    const auto move = writesOf(w.os, "AT+IPR=115200\r");
    ASSERT_EQ(move.size(), 1u);
    EXPECT_EQ(move[0].atMs, detected + kAnsweredMs + kBeforeSendMs);
    EXPECT_EQ(move[0].rate, 57600u);  // asked at the module's own rate
    const auto download = writesOf(w.os, "AT^SFDL\r");
    ASSERT_EQ(download.size(), 1u);
    EXPECT_EQ(download[0].atMs, detected + 2 * kAnsweredMs + kSwitchMs + kBeforeSendMs);
    EXPECT_EQ(download[0].rate, 115200u);

    // The hand-back re-opens 1000 ms after the close, restores at 115200 and switches off
    // 1000 ms after the port followed to 57600.
    const auto closes = w.os.eventsOf(Event::Kind::Close);
    const auto opens = w.os.eventsOf(Event::Kind::Open);
    ASSERT_EQ(closes.size(), 2u);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].atMs - closes[0].atMs, 1000u);
    const auto restore = writesOf(w.os, "AT+IPR=57600\r");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_EQ(restore[0].atMs, opens[1].atMs + kRestartMs + kSlotMs + kBeforeSendMs);
    EXPECT_EQ(restore[0].rate, 115200u);
    const auto off = writesOf(w.os, "AT^SMSO\r");
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0].atMs,
              restore[0].atMs - kBeforeSendMs + kAnsweredMs + kSwitchMs + 1000 + kBeforeSendMs);
    EXPECT_EQ(off[0].rate, 57600u);

    EXPECT_TRUE(w.module.imageComplete());
    EXPECT_TRUE(w.module.switchedOff());
    EXPECT_EQ(w.module.config().rate, 57600u);  // back at its own rate
    EXPECT_EQ(w.host.positions.back(), 3);
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
}

TEST(NegotiatedRoad, ModuleAtTheRequestedRateNeedsNoMoveAndNoRestoration) {
    const auto records = makeRecords(2);
    VirtualWorld w(firmwareModule(115200, records));
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);
    std::vector<std::string> expected{"open COM1", "rate 115200"};
    append(expected, detectionDialogue({115200}));
    append(expected, {"> AT+IPR?\\r", "> AT^SFDL\\r", "record 0", "record 1", "close"});
    EXPECT_EQ(transcript(w.os, records), expected);
    EXPECT_EQ(w.host.texts(),
              (std::vector<std::string>{
                  "", "INFO: original baudrate = 115200", "Waiting for start signal.",
                  "Firmware download in progress.", kFinishing, "Download succeeded."}));
}

TEST(NegotiatedRoad, AutobaudModuleReportsZeroAndIsSetBackToIt) {
    const auto records = makeRecords(1);
    VirtualWorld w(firmwareModule(0, records));
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);
    EXPECT_TRUE(w.host.showed("INFO: original baudrate = 0"));
    const auto all = transcript(w.os, records);
    const auto handBack = transcriptFromOpen(all, 1);
    ASSERT_FALSE(handBack.empty());
    EXPECT_EQ(std::vector<std::string>(handBack.end() - 4, handBack.end()),
              (std::vector<std::string>{"> AT+IPR=0\\r", "rate 0", "> AT^SMSO\\r", "close"}));
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(w.module.switchedOff());
}

TEST(NegotiatedRoad, ModuleWithoutAtAnswersGetsTheWarningAndTheFallbackEntry) {
    const auto records = makeRecords(2);
    VirtualWorld w(loaderModule(records));  // no firmware: only its loader listens
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);

    std::vector<std::string> expected{"open COM1", "rate 115200"};
    const std::vector<uint32_t> pass{115200, 460800, 230400, 57600, 38400, 19200};
    append(expected, detectionDialogue(pass));
    append(expected, detectionDialogue(pass));
    append(expected, {"close", "open COM1", "rate 57600", "restart", "> AT^SFDL\\r", "record 0",
                      "record 1", "close"});
    EXPECT_EQ(transcript(w.os, records), expected);

    const std::string warning =
        "WARNING: AT-Command-Mode not detected (trying fall back with 57600).";
    ASSERT_GE(w.host.statuses.size(), 2u);
    EXPECT_EQ(w.host.statuses[1].text, warning);
    EXPECT_EQ(w.host.statuses[1].atMs - w.clock.start(), 1000 + 2 * kRestartMs + 12 * kSlotMs);
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(w.module.imageComplete());
}

TEST(NegotiatedRoad, RefusedDownloadCommandEndsTheSessionBeforeAnyTransfer) {
    const auto records = makeRecords(2);
    auto config = firmwareModule(115200, records);
    config.refusedCommands = {"AT^SFDL"};
    VirtualWorld w(config);
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.texts(), (std::vector<std::string>{"", "INFO: original baudrate = 115200",
                                                        "ERROR: Cannot send download command."}));
    const auto all = transcript(w.os, records);
    EXPECT_EQ(countOf(all, "> AT^SFDL\\r"), 1);  // an ERROR is final: no second send
    EXPECT_EQ(all.back(), "close");
    EXPECT_EQ(countOf(all, "record 0"), 0);
    EXPECT_EQ(w.os.eventsOf(Event::Kind::Open).size(), 1u);  // no hand-back
    EXPECT_EQ(w.host.positions.back(), 0);
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
}

TEST(NegotiatedRoad, FailedTransferIsStillFollowedByTheHandBack) {
    const auto records = makeRecords(3);
    auto config = firmwareModule(57600, records);
    config.answers = [](int block, int) {
        return sim::BlockAnswer{sim::BlockAnswer::Kind::Byte, uint8_t(block == 1 ? 0x15 : 0x01)};
    };
    VirtualWorld w(config);
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: unexpected or fatal response (0x15) to block 1.");
    EXPECT_FALSE(w.host.showed("Download succeeded."));
    EXPECT_EQ(writesOf(w.os, "AT+IPR=57600\r").size(), 1u);
    EXPECT_EQ(writesOf(w.os, "AT^SMSO\r").size(), 1u);
    EXPECT_EQ(w.host.positions.back(), 3);
}

// --- block update -------------------------------------------------------------------------

TEST(BlockUpdate, UusfNameRestartsTheModuleInsteadOfRestoringItsRate) {
    const auto records = makeRecords(2);
    VirtualWorld w(firmwareModule(57600, records));
    w.useImage(records);
    negotiatedFields(w.host, "115200", false, "update.UUSF");
    runUpdateSession(w.host);

    const auto handBack = transcriptFromOpen(transcript(w.os, records), 1);
    EXPECT_EQ(handBack, (std::vector<std::string>{"open COM1", "rate 115200", "restart", "close"}));
    const auto opens = w.os.eventsOf(Event::Kind::Open);
    const auto closes = w.os.eventsOf(Event::Kind::Close);
    ASSERT_EQ(opens.size(), 2u);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(opens[1].atMs - closes[0].atMs, 1000u);
    EXPECT_EQ(closes[1].atMs - opens[1].atMs, kRestartMs + 5000);
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    EXPECT_FALSE(w.module.switchedOff());
}

TEST(BlockUpdate, TheSuffixAloneIsNoBlockUpdate) {
    const auto records = makeRecords(1);
    VirtualWorld w(firmwareModule(57600, records));
    w.useImage(records);
    negotiatedFields(w.host, "115200", false, ".uusf");
    runUpdateSession(w.host);
    EXPECT_EQ(writesOf(w.os, "AT+IPR=57600\r").size(), 1u);
    EXPECT_TRUE(w.module.switchedOff());
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
}

TEST(BlockUpdate, PortThatCannotBeReopenedIsNoSuccess) {
    const auto records = makeRecords(2);
    FakeSerialOs* os = nullptr;
    auto config = firmwareModule(57600, records);
    config.answers = unplugAfterLastRecord(2, &os);
    VirtualWorld w(config);
    os = &w.os;
    w.useImage(records);
    negotiatedFields(w.host, "115200", false, "x.uusf");
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: cannot access COM port to perform block update.");
    EXPECT_FALSE(w.host.showed("Download succeeded."));
    EXPECT_TRUE(w.module.imageComplete());
    EXPECT_EQ(w.host.startEnabled, 1);
}

TEST(HandBack, PortThatCannotBeReopenedForTheRestoreIsNoSuccess) {
    const auto records = makeRecords(2);
    FakeSerialOs* os = nullptr;
    auto config = firmwareModule(57600, records);
    config.answers = unplugAfterLastRecord(2, &os);
    VirtualWorld w(config);
    os = &w.os;
    w.useImage(records);
    negotiatedFields(w.host, "115200");
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.lastStatus(),
              "ERROR: cannot access COM port to change back to original baudrate.");
    EXPECT_FALSE(w.host.showed("Download succeeded."));
    EXPECT_EQ(w.host.positions.back(), 2);
}

// --- USB ----------------------------------------------------------------------------------

TEST(UsbRoad, NoRateCommandsAndTheVanishedPortIsReopenedWithoutHandBack) {
    const auto records = makeRecords(2);
    auto config = firmwareModule(115200, records);
    config.usb = true;
    config.usbDropMs = 200;
    config.usbGoneMs = 3000;
    VirtualWorld w(config);
    w.useImage(records);
    negotiatedFields(w.host, "115200", true, "fw.uusf");  // no block-update finish over USB
    runUpdateSession(w.host);

    const auto all = transcript(w.os, records);
    for (const auto& line : all)
        EXPECT_EQ(line.find("AT+IPR"), std::string::npos) << line;
    std::vector<std::string> expected{"open COM1", "rate 115200"};
    append(expected, detectionDialogue({115200}));
    append(expected, {"> AT^SFDL\\r", "close"});
    // The port dropped 200 ms after the OK and stays away 3000 ms; the session waits 2000 ms
    // and then tries every 100 ms, each try under the name and its device-namespace form.
    const uint32_t downloadAt = 1000 + kRestartMs + kSlotMs + kBeforeSendMs;
    const uint32_t closedAt = downloadAt + 2 + 50;
    const uint32_t backAt = downloadAt + 2 + 200 + 3000;
    int failedTries = 0;
    while (closedAt + 2000 + 100 * (failedTries + 1) < backAt)
        ++failedTries;
    for (int i = 0; i < failedTries; ++i)
        append(expected, {"open failed COM1", "open failed \\\\.\\COM1"});
    append(expected, {"open COM1", "rate 115200", "record 0", "record 1", "close"});
    EXPECT_EQ(all, expected);
    EXPECT_EQ(failedTries, 11);

    const auto opens = w.os.eventsOf(Event::Kind::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].atMs, closedAt + 2000 + 100 * (failedTries + 1));
    EXPECT_EQ(w.host.texts(), (std::vector<std::string>{"", "Waiting for start signal.",
                                                        "Firmware download in progress.",
                                                        kFinishing, "Download succeeded."}));
    EXPECT_TRUE(w.module.imageComplete());
}

TEST(UsbRoad, PortThatNeverComesBackEndsAfter80Tries) {
    const auto records = makeRecords(2);
    auto config = firmwareModule(115200, records);
    config.usb = true;
    config.usbGoneMs = 60000;
    VirtualWorld w(config);
    w.useImage(records);
    negotiatedFields(w.host, "115200", true);
    runUpdateSession(w.host);
    const auto all = transcript(w.os, records);
    EXPECT_EQ(countOf(all, "open failed COM1"), 80);
    EXPECT_EQ(countOf(all, "record 0"), 0);
    ASSERT_GE(w.host.statuses.size(), 1u);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: Cannot reopen USB port.");
    const auto closes = w.os.eventsOf(Event::Kind::Close);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(w.host.statuses.back().atMs - w.clock.start(), closes[0].atMs + 2000 + 80 * 100);
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
}

}  // namespace
}  // namespace kestrel::test
