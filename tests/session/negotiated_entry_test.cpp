// The negotiated entry on its own: what it learns from "AT+IPR?", when it moves the module,
// and its outcomes. What the module sends is untrusted: long, zero-laden or noisy replies.
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;

// The entry against a module as `config` says, the port open at 115200.
struct Entry {
    explicit Entry(sim::ModuleConfig config) : w(std::move(config)), s(phaseSession(w, 115200)) {
        EXPECT_EQ(w.port.openPort("COM1", 115200, false), 1);
        result = enterDownloadMode(s);
        dialogue = transcript(w.os);
    }
    Texts tail(size_t n) const {
        return Texts(dialogue.end() - static_cast<long>(n), dialogue.end());
    }
    VirtualWorld w;
    Session s;
    EntryResult result;
    Texts dialogue;
};

sim::ModuleConfig reporting(const std::string& info, uint32_t pauseMs = 0) {
    sim::ModuleConfig c = firmwareModule(115200);
    c.iprInfo = info;
    c.pauseInInfoMs = pauseMs;
    return c;
}

TEST(OriginalRate, NumberIsConvertedLikeTheRateField) {
    auto blankLines = firmwareModule(115200);
    blankLines.blankLinesBeforeInfo = 2;  // skipped by the leading-noise strip
    const std::pair<sim::ModuleConfig, int32_t> cases[] = {
        {blankLines, 115200},
        {reporting(" +IPR: 57600"), 57600},    // spaces are line noise too
        {reporting("+IPR: 0"), 0},             // autobaud, restored like any rate
        {reporting("+IPR:  +38400x"), 38400},  // converted like the rate field
        {reporting("+IPR: " + std::string(300, '9')), 2147483647},   // past the buffer: clamped
        {reporting("+IPR: 57" + std::string(1, '\0') + "600"), 57},  // a zero byte ends the text
        {reporting("+IPR: -1"), -1},  // reported, so shown, though it reads as unknown
        // The reply is cut by the pause: "\r\n+IPR: 57" is stripped down to the line.
        {reporting("+IPR: 57", 100), 57},
    };
    for (const auto& c : cases) {
        Entry e(c.first);
        SCOPED_TRACE(escaped(c.first.iprInfo));
        EXPECT_EQ(e.s.originalRate, c.second);
        EXPECT_EQ(e.w.host.texts(), Texts{"INFO: original baudrate = " + std::to_string(c.second)});
        EXPECT_EQ(e.result, EntryResult::Entered);
    }
}

TEST(OriginalRate, StaysUnknownWithoutAnInformationLine) {
    auto refusing = firmwareModule(115200);
    refusing.refusedCommands = {"AT+IPR?"};
    auto flood = firmwareModule(115200);
    flood.replyFor = {{"AT+IPR?", std::string(1000, '\x7f')}};
    // "\r\n+IPR: 5" (9 characters, cut by the pause) loses only its CR: the strip stops at 8.
    const sim::ModuleConfig cases[] = {reporting("+IPR:57600"),
                                       reporting("+ipr: 57600"),
                                       reporting("IPR: 57600"),
                                       reporting("+IPR: 5", 100),
                                       refusing,
                                       flood};
    for (const auto& c : cases) {
        Entry e(c);
        SCOPED_TRACE(escaped(c.iprInfo));
        EXPECT_EQ(e.s.originalRate, -1);
        EXPECT_TRUE(e.w.host.statuses.empty());
        EXPECT_EQ(e.result, EntryResult::Entered);
    }
}

TEST(ModuleMove, SameRateMeansNoMoveOnlyAPurgeBeforeTheDownloadCommand) {
    Entry e(firmwareModule(115200));
    EXPECT_EQ(e.tail(2), (Texts{"> AT+IPR?\\r", "> AT^SFDL\\r"}));
    // The purge comes right after the query's reply, 50 ms before the download command.
    const auto& ev = e.w.os.events;
    size_t purge = 0;
    for (size_t i = 0; i < ev.size(); ++i)
        if (ev[i].kind == Event::Kind::Purge) purge = i;
    EXPECT_EQ(ev[purge].atMs, writesOf(e.w.os, "AT^SFDL\r").at(0).atMs - kBeforeSendMs);
    EXPECT_EQ(ev.at(purge + 1).text, "AT^SFDL\r");
}

TEST(ModuleMove, FailedMoveIsNotNoticedAndTheDownloadCommandStillGoes) {
    auto c = firmwareModule(57600);
    c.refusedCommands = {"AT+IPR=115200"};
    Entry e(c);
    EXPECT_EQ(e.tail(4),
              (Texts{"> AT+IPR?\\r", "> AT+IPR=115200\\r", "rate 115200", "> AT^SFDL\\r"}));
    // The module stayed at 57600 and hears the command as noise.
    EXPECT_EQ(e.result, EntryResult::Failed);
    EXPECT_EQ(e.w.host.lastStatus(), "ERROR: Cannot send download command.");
    EXPECT_EQ(e.s.originalRate, 57600);
}

}  // namespace
}  // namespace kestrel::test
