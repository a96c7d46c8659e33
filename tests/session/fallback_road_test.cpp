// The fallback road: a module without firmware, restarted on DTR and sent the download
// command blind; then the wait for the loader's start signal with its try limits.
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

TEST(FallbackRoad, BytesLinesAndWaitsInOrder) {
    UpdateRun r(makeRecords(5, {16, 24, 8}), loaderModule(), true);
    r.run();
    // Open at the operator's rate with DTR off, then after the 1000 ms pause the blind entry:
    // close, 5000 ms, open at 57600, DTR low (already) then high 100 ms later, 300 ms, CTS
    // (up after the 200 ms boot) settled 100 ms, the command; the start byte 50 ms later.
    EXPECT_EQ(r.dialogue(true),
              split("0 open COM1|0 rate 115200|1000 close|6000 open COM1|6000 rate 57600|"
                    "6100 restart|6500 > AT^SFDL\\r|6550 record 0|6551 record 1|6552 record 2|"
                    "6553 record 3|6554 record 4|6555 close"));
    const auto& os = r.w.os;
    EXPECT_FALSE(os.events.at(1).on);  // RS-232: the line settings keep DTR off
    EXPECT_EQ(os.events.at(2).kind, Event::Kind::Purge);
    EXPECT_EQ(r.statusLines(),
              split("0 |6500 Waiting for start signal.|6550 Firmware download in progress.|"
                    "6555 Download succeeded, finishing update process.|6555 Download succeeded."));
    EXPECT_EQ(r.w.host.fieldReads, 1);  // the fields are read once, at the start
    EXPECT_EQ(r.w.host.rangeMax, 5);
    r.expectReleased();
    EXPECT_FALSE(os.dtr());  // closing drops DTR

    // An empty image still waits for the start signal, and succeeds.
    UpdateRun empty({}, loaderModule(), true);
    EXPECT_EQ(writes(empty.run().w.os), Texts{"AT^SFDL\r"});
    EXPECT_EQ(empty.w.host.texts(),
              split("|Waiting for start signal.|Firmware download in progress.|Download "
                    "succeeded, finishing update process.|Download succeeded."));
    EXPECT_EQ(empty.w.host.rangeMax, 0);
}

TEST(FallbackRoad, PortThatDoesNotReopenAt57600IsReportedAtOnce) {
    UpdateRun r(makeRecords(2), loaderModule(), true);
    r.w.os.refusedRates = {57600};  // the re-open at 57600 fails; nothing may reach a device
    r.run();
    EXPECT_TRUE(writes(r.w.os).empty());
    // 1000 ms pause, 5000 ms closed: no 20 s wait for a start signal that cannot come.
    EXPECT_EQ(r.statusLines().back(), "6000 ERROR: Cannot open COM-Port.");
    EXPECT_EQ(r.outcome.result, SessionResult::DownloadModeNotEntered);
    EXPECT_TRUE(r.outcome.reason.known());
    r.expectReleased();
}

std::string startWarning(int byte, int tryNo, bool error) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: invalid start acknowledgement (0x%02x) received (Try %d)",
                  error ? "ERROR" : "WARNING", byte, tryNo);
    return text;
}

TEST(StartSignal, TryLimitsAre22ForTheFallbackAnd19ForTheNegotiatedEntry) {
    struct Case {
        bool negotiated;
        int wrongBytes;
        uint8_t byte;
        bool startByte;  // false: the loader is ready without ever sending 0x01
    } cases[] = {{false, 21, 0x5a, true}, {false, 22, 0xfe, false}, {true, 19, 0x00, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wrongBytes);
        auto config = c.negotiated ? firmwareModule(115200) : loaderModule();
        config.startPreamble.assign(c.wrongBytes, c.byte);
        config.sendStartByte = c.startByte;
        UpdateRun r(makeRecords(2), config, !c.negotiated);
        r.run();
        // A warning for each wrong byte below the limit, an ERROR for the one at it.
        Texts expected;
        for (int i = 1; i <= c.wrongBytes; ++i)
            expected.push_back(startWarning(c.byte, i, !c.startByte && i == c.wrongBytes));
        Texts shown;
        for (const std::string& text : r.w.host.texts())
            if (text.find("invalid start") != std::string::npos) shown.push_back(text);
        EXPECT_EQ(shown, expected);
        // The ERROR text does not end the session: every record still goes out.
        EXPECT_TRUE(r.w.module.imageComplete());
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
    }
}

TEST(StartSignal, AStartByteLaterThanTheTryLimitFailsTheTransferInsteadOfSucceeding) {
    // A firmware answers the blind command with 22 bytes and no start byte; its loader greets a
    // second later, after the line fell quiet, and that 0x01 is taken for the first block's
    // answer. Each answer after it is one block behind: the last one comes after the last
    // block, within the answer wait that only a start taken on the try limit adds.
    auto config = with(firmwareModule(57600), [](auto& c) {
        c.replyFor["AT^SFDL"] = std::string(14, '?');
        c.startDelayMs = c.answerDelayMs = 1000;
    });
    UpdateRun r(makeRecords(3), config, true);
    r.run();
    EXPECT_EQ(r.dialogue(true).back(), "8702 close");
    EXPECT_EQ(r.statusLines().back(),
              "8702 ERROR: unexpected or fatal response (0x01) to block 2.");
    EXPECT_EQ(r.outcome.result, SessionResult::TransferFailed);
    EXPECT_EQ(r.outcome.blockFailure, BlockFailure::StrayAnswer);
    r.expectReleased();
}

TEST(StartSignal, WithoutACleanStartByteTheSessionEndsAfter20sWithoutTransferOrHandBack) {
    // The loader sends no start byte, or one with a line error: the checked read of RS-232
    // drops it, the timed read of USB takes it.
    struct Case {
        bool startByte, usb;
    } cases[] = {{false, false}, {true, false}, {true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startByte + 2 * c.usb);
        auto config = loaderModule();
        config.usb = c.usb;
        config.sendStartByte = c.startByte;
        UpdateRun r(makeRecords(2), config, true);
        r.w.host.fields.usb = c.usb;
        r.w.os.lineErrorsOnNextReads = c.startByte ? 1 : 0;
        r.run();
        if (c.usb) {
            EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
            continue;
        }
        // The command at 6500 (as on the fallback road), then 20 s.
        EXPECT_EQ(r.statusLines(),
                  split("0 |6500 Waiting for start signal.|26500 ERROR: timout waiting for start "
                        "character."));
        EXPECT_EQ(writes(r.w.os).size(), 1u);     // only the download command
        EXPECT_EQ(r.w.host.positions.back(), 0);  // the bar keeps its place before the transfer
        r.expectReleased();
    }
}

}  // namespace
}  // namespace kestrel::test
