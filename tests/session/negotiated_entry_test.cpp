// The negotiated entry on its own: what it learns from "AT+IPR?", when it moves the module,
// and its three outcomes.
#include <gtest/gtest.h>

#include "session/negotiated_util.h"

namespace kestrel::test {
namespace {

struct Entry {
    explicit Entry(sim::ModuleConfig config, int32_t requested = 115200, bool usb = false)
        : w(std::move(config)), s(phaseSession(w.host, requested, usb)) {
        EXPECT_EQ(openPort("COM1", static_cast<uint32_t>(requested), usb), 1);
        result = enterDownloadMode(s);
        dialogue = transcript(w.os);
    }
    VirtualWorld w;
    Session s;
    EntryResult result;
    std::vector<std::string> dialogue;
};

sim::ModuleConfig reporting(const std::string& info, uint32_t pauseMs = 0) {
    sim::ModuleConfig c = firmwareModule(115200);
    c.iprInfo = info;
    c.pauseInInfoMs = pauseMs;
    return c;
}

TEST(OriginalRate, BlankLinesBeforeTheInformationLineAreSkipped) {
    auto c = firmwareModule(115200);
    c.blankLinesBeforeInfo = 2;
    Entry e(c);
    EXPECT_EQ(e.result, EntryResult::Entered);
    EXPECT_EQ(e.s.originalRate, 115200);
    EXPECT_EQ(e.w.host.texts(), std::vector<std::string>{"INFO: original baudrate = 115200"});
}

TEST(OriginalRate, StripStopsAtEightCharacters) {
    // The reply is cut by the pause: "\r\n+IPR: 5" (9 characters) loses only its CR and
    // keeps the LF in front; "\r\n+IPR: 57" is stripped down to the line.
    {
        Entry nine(reporting("+IPR: 5", 100));
        EXPECT_EQ(nine.s.originalRate, -1);
        EXPECT_TRUE(nine.w.host.statuses.empty());
    }
    Entry ten(reporting("+IPR: 57", 100));
    EXPECT_EQ(ten.s.originalRate, 57);
    EXPECT_EQ(ten.w.host.texts(), std::vector<std::string>{"INFO: original baudrate = 57"});
}

TEST(OriginalRate, NumberIsConvertedLikeTheRateField) {
    struct Case {
        const char* info;
        int32_t rate;
    } cases[] = {
        {"+IPR: 0", 0},                     // autobaud, restored like any rate
        {"+IPR: ", 0},                      // no digits
        {"+IPR:  +38400x", 38400},          // white space and sign, stops at the x
        {"+IPR: 99999999999", 2147483647},  // past 32 bits: clamped
        {"+IPR: -1", -1},                   // reported, so shown, though it reads as unknown
    };
    for (const Case& c : cases) {
        Entry e(reporting(c.info));
        EXPECT_EQ(e.s.originalRate, c.rate) << c.info;
        EXPECT_EQ(e.w.host.texts(),
                  std::vector<std::string>{"INFO: original baudrate = " + std::to_string(c.rate)})
            << c.info;
        EXPECT_EQ(e.result, EntryResult::Entered) << c.info;
    }
}

TEST(OriginalRate, StaysUnknownWithoutAnInformationLine) {
    for (const char* info : {"+IPR:57600", "+ipr: 57600", "IPR: 57600"}) {
        Entry e(reporting(info));
        EXPECT_EQ(e.s.originalRate, -1) << info;
        EXPECT_TRUE(e.w.host.statuses.empty()) << info;
    }
    auto refusing = firmwareModule(115200);
    refusing.refusedCommands = {"AT+IPR?"};
    Entry e(refusing);
    EXPECT_EQ(e.s.originalRate, -1);
    EXPECT_EQ(e.result, EntryResult::Entered);
}

TEST(ModuleMove, SameRateMeansNoMoveOnlyAPurgeBeforeTheDownloadCommand) {
    Entry e(firmwareModule(115200));
    const std::vector<std::string> tail(e.dialogue.end() - 2, e.dialogue.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"> AT+IPR?\\r", "> AT^SFDL\\r"}));
    // The purge comes right after the query's reply, 50 ms before the download command.
    const auto& ev = e.w.os.events;
    const auto download = writesOf(e.w.os, "AT^SFDL\r");
    ASSERT_EQ(download.size(), 1u);
    size_t purge = 0;
    for (size_t i = 0; i < ev.size(); ++i)
        if (ev[i].kind == Event::Kind::Purge) purge = i;
    EXPECT_EQ(ev[purge].atMs, download[0].atMs - kBeforeSendMs);
    EXPECT_EQ(ev[purge + 1].kind, Event::Kind::Write);
    EXPECT_EQ(ev[purge + 1].text, "AT^SFDL\r");
}

TEST(ModuleMove, FailedMoveIsNotNoticedAndTheDownloadCommandStillGoes) {
    auto c = firmwareModule(57600);
    c.refusedCommands = {"AT+IPR=115200"};
    Entry e(c);
    const std::vector<std::string> tail(e.dialogue.end() - 4, e.dialogue.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"> AT+IPR?\\r", "> AT+IPR=115200\\r", "rate 115200",
                                              "> AT^SFDL\\r"}));
    // The module stayed at 57600 and hears the command as noise.
    EXPECT_EQ(e.result, EntryResult::Failed);
    EXPECT_EQ(e.w.host.lastStatus(), "ERROR: Cannot send download command.");
    EXPECT_EQ(e.s.originalRate, 57600);
}

TEST(ModuleMove, UsbSkipsEveryRateCommandAndThePurge) {
    auto c = firmwareModule(57600);
    c.usb = true;
    Entry e(c, 115200, true);
    EXPECT_EQ(e.result, EntryResult::Entered);
    EXPECT_EQ(e.s.originalRate, -1);
    EXPECT_TRUE(e.w.host.statuses.empty());
    EXPECT_EQ(e.dialogue,
              (std::vector<std::string>{"open COM1", "rate 115200", "restart", "rate 115200",
                                        "> ATE1V1Q0\\r", "> AT^SFDL\\r"}));
    EXPECT_EQ(e.w.os.eventsOf(Event::Kind::Purge).size(), 2u);  // the open's and the probe's
}

TEST(Outcome, NoAnswerAnywhereIsNotDetectedWithoutAText) {
    auto c = firmwareModule(115200);
    c.silent = true;
    Entry e(c);
    EXPECT_EQ(e.result, EntryResult::NotDetected);
    EXPECT_TRUE(e.w.host.statuses.empty());
    EXPECT_EQ(probeRates(e.w.os).size(), 12u);
    EXPECT_EQ(countOf(e.dialogue, "> AT^SFDL\\r"), 0);
}

TEST(Outcome, DownloadCommandNeedsTheVerboseOk) {
    struct Case {
        std::string reply;
        EntryResult result;
    } cases[] = {
        {std::string("\r\n\0OK\r\n", 7), EntryResult::Failed},  // the zero hides the OK
        {"\r\nOK\r", EntryResult::Failed},
        {"\r\nok\r\n", EntryResult::Failed},
        {"\r\nBOOK\r\n", EntryResult::Entered},
    };
    for (const Case& c : cases) {
        auto config = firmwareModule(115200);
        config.replyFor = {{"AT^SFDL", c.reply}};
        Entry e(config);
        EXPECT_EQ(e.result, c.result) << escaped(c.reply);
        if (c.result == EntryResult::Failed) {
            EXPECT_EQ(e.w.host.lastStatus(), "ERROR: Cannot send download command.");
        } else {
            EXPECT_NE(e.w.host.lastStatus(), "ERROR: Cannot send download command.");
        }
        // Either way the module did switch; a failure is never turned into success.
        EXPECT_TRUE(e.w.module.inLoader());
        EXPECT_EQ(writesOf(e.w.os, "AT^SFDL\r").size(), 1u);
    }
}

}  // namespace
}  // namespace kestrel::test
