// The AT command exchange against the simulated module: echo handling, how a reply is
// collected and judged, the second send after silence, and the short probe. Times are
// virtual milliseconds from the moment the call was made.
#include <gtest/gtest.h>

#include "modem/dialogue_timing.h"
#include "modem/modem_link.h"

namespace kestrel::test {
namespace {

TEST(AtEcho, EchoIsDroppedAndTheReplyKeptAsReceived) {
    ModemLink link;
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\nOK\\r\\n");
    EXPECT_EQ(r.tookMs, kAnsweredMs);
    const auto ws = link.writes();
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0].text, "AT\r");  // the command's bytes and nothing else
    EXPECT_EQ(ws[0].atMs, 50u);
}

TEST(AtEcho, WithoutEchoTheReplyBeginsWithTheModulesFirstByte) {
    sim::ModuleConfig c;
    c.neverEchoes = true;
    ModemLink link(c);
    const auto r = link.send("AT+IPR?\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
}

TEST(AtEcho, RepeatedCommandAfterTheEchoIsReply) {
    sim::ModuleConfig c;
    c.echoTwice = true;
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "AT\\r\\r\\nOK\\r\\n");
}

TEST(AtEcho, StaleBytesStartTheReplyOrPassAsEchoWhenTheyMatch) {
    {
        ModemLink link;
        link.moduleSends("xyz", 0);
        const auto r = link.send("AT\r");
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(escaped(r.text), "xyzAT\\r\\r\\nOK\\r\\n");
    }
    {
        // A stale "A" is taken for the echo's first character; the real echo then no longer
        // matches and becomes the reply.
        ModemLink link;
        link.moduleSends("A", 0);
        const auto r = link.send("AT\r");
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(escaped(r.text), "AT\\r\\r\\nOK\\r\\n");
    }
}

TEST(AtCollection, StopsRightBehindTheFirstOkAndLeavesTheRestQueued) {
    sim::ModuleConfig c;
    c.unsolicitedAfterOk = "\r\n+CREG: 1\r\n";
    ModemLink link(c);
    const auto r = link.send("AT+IPR?\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(link.leftInPort()), "\\r\\n+CREG: 1\\r\\n");
}

TEST(AtCollection, APauseCutsTheReplyAndTheRestStaysQueued) {
    sim::ModuleConfig c;
    c.pauseInInfoMs = 100;
    ModemLink link(c);
    const auto r = link.send("AT+IPR?\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(escaped(r.text), "\\r\\n+IPR: 115200");
    EXPECT_EQ(link.writes().size(), 1u);
    link.w.clock.advance(200);
    EXPECT_EQ(escaped(link.leftInPort()), "\\r\\n\\r\\nOK\\r\\n");
}

TEST(AtCollection, ALateButTimelyAnswerIsWaitedFor) {
    sim::ModuleConfig c;
    c.lateAnswerMs = 300;
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    // A poll lands on the echo at 350 exactly; from there on as for a prompt answer.
    EXPECT_EQ(r.tookMs, kAnsweredMs + 300);
    EXPECT_EQ(link.writes().size(), 1u);
}

TEST(AtMarker, ErrorResultFailsAtOnceWithOneWriteAndTheTextKept) {
    sim::ModuleConfig c;
    c.refusedCommands = {"AT^SFDL"};
    ModemLink link(c);
    const auto r = link.send("AT^SFDL\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(escaped(r.text), "\\r\\nERROR\\r\\n");
    EXPECT_EQ(r.tookMs, kAnsweredMs + 5);  // without the marker, a gap ends the reply
    EXPECT_EQ(link.writes().size(), 1u);
}

TEST(AtMarker, OkWithoutLineFeedIsNotRecognised) {
    sim::ModuleConfig c;
    c.okWithoutLf = true;
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(escaped(r.text), "\\r\\nOK\\r");
    EXPECT_EQ(link.writes().size(), 1u);
}

TEST(AtMarker, OkAtTheEndOfALongerWordCounts) {
    ModemLink link(silentModule());
    link.moduleSends("\r\nBOOK\r\n", 60);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\nBOOK\\r\\n");
}

TEST(AtMarker, ZeroByteBeforeOkHidesItAndCollectingRunsToTheGap) {
    sim::ModuleConfig c;
    c.zeroBeforeOk = true;
    c.unsolicitedAfterOk = "\r\nRING\r\n";
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(escaped(r.text), "\\r\\n");
    EXPECT_EQ(link.writes().size(), 1u);
    // The OK and the line behind it were read (to the gap), not left for the next reader.
    EXPECT_EQ(link.leftInPort(), "");
}

TEST(AtResend, SilenceGetsASecondSendAfterTheFullBudgetThenGivesUp) {
    ModemLink link(silentModule());
    const auto r = link.send("AT^SMSO\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "");  // the junk that was in the buffer is gone
    const auto ws = link.writes();
    ASSERT_EQ(ws.size(), 2u);
    EXPECT_EQ(ws[0].text, "AT^SMSO\r");
    EXPECT_EQ(ws[1].text, "AT^SMSO\r");
    // Each wait for a first byte ends on the first 15 ms poll (5 ms read, 10 ms wait) that
    // starts at or after 5000 ms: 5010 ms; the second send follows 50 ms later.
    EXPECT_EQ(ws[0].atMs, 50u);
    EXPECT_EQ(ws[1].atMs - ws[0].atMs, 5010u + 50u);
    EXPECT_EQ(r.tookMs, 2 * (50u + 5010u));
}

TEST(AtResend, EchoWithoutAReplyCountsAsSilence) {
    sim::ModuleConfig c;
    c.quiet = true;  // results off: only the echo comes back
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(link.writes().size(), 2u);
    EXPECT_EQ(r.tookMs, 2 * (50u + 5010u));
}

TEST(AtResend, AnAnswerToTheSecondSendStillSucceeds) {
    sim::ModuleConfig c;
    c.firstAnsweredLine = 2;
    ModemLink link(c);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\nOK\\r\\n");
    EXPECT_EQ(link.writes().size(), 2u);
    EXPECT_EQ(r.tookMs, 50u + 5010u + kAnsweredMs);
}

// --- the probe ---------------------------------------------------------------------------

struct ProbeRun {
    int result;
    uint32_t tookMs;
};
ProbeRun probe(ModemLink& link) {
    const uint32_t t0 = link.w.clock.elapsed();
    const int result = probeAtMode();
    return {result, link.w.clock.elapsed() - t0};
}

TEST(AtProbe, EchoAndOkInOneBurstAnswer) {
    ModemLink link;
    const auto p = probe(link);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.tookMs, 200u + 5u);  // the wait, then one empty read ends the drain
    const auto& ev = link.w.os.events;
    ASSERT_GE(ev.size(), link.firstEvent + 2);
    EXPECT_EQ(ev[link.firstEvent].kind, Event::Kind::Purge);
    EXPECT_EQ(ev[link.firstEvent + 1].kind, Event::Kind::Write);
    EXPECT_EQ(ev[link.firstEvent + 1].text, "ATE1V1Q0\r");
    EXPECT_EQ(ev[link.firstEvent + 1].atMs, link.startMs);  // no wait before the write
}

TEST(AtProbe, AnswerMustBeginWithinTheWaitAndOneReadTimeout) {
    for (uint32_t late : {204u, 205u, 206u, 300u}) {
        sim::ModuleConfig c;
        c.lateAnswerMs = late;
        ModemLink link(c);
        const auto p = probe(link);
        EXPECT_EQ(p.result, late <= 205 ? 1 : 0) << late;
        if (late > 205) {
            EXPECT_EQ(p.tookMs, 205u) << late;
        }
    }
}

TEST(AtProbe, StaleBytesArePurgedBeforeTheProbe) {
    ModemLink link(silentModule());
    link.moduleSends("\r\nOK\r\n", 0);
    EXPECT_EQ(probe(link).result, 0);
}

TEST(AtProbe, TheProbeItselfTurnsOnEchoVerboseResultsAndResultCodes) {
    sim::ModuleConfig c;
    c.echo = false;
    c.verbose = false;
    c.quiet = true;
    ModemLink link(c);
    EXPECT_EQ(link.send("AT\r").result, 0);  // nothing a reply could be made of
    EXPECT_EQ(probe(link).result, 1);
    const auto r = link.send("AT\r");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(escaped(r.text), "\\r\\nOK\\r\\n");
}

TEST(AtMarker, NumericResultIsNoAnswer) {
    sim::ModuleConfig c;
    c.verbose = false;
    ModemLink link(c);
    const auto r = link.send("ATE0\r");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(escaped(r.text), "0\\r");
}

}  // namespace
}  // namespace kestrel::test
