// The AT command exchange against the simulated module: echo handling, how a reply is
// collected and judged, the second send after silence, the short probe, and replies that
// cannot be trusted (longer than the buffer, zero bytes, noise at a wrong rate). Times are
// virtual milliseconds from the moment the call was made.
#include <gtest/gtest.h>

#include "modem/dialogue_timing.h"
#include "modem/modem_link.h"

namespace kestrel::test {
namespace {

using M = sim::ModuleConfig;
std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>('a' + i % 26));
    return s;
}

// What sendAtCommand makes of a module: its result, the reply text, how many sends, how long
// it took (0: not checked) and what is still queued 200 ms later.
struct ReplyCase {
    const char* what;
    sim::ModuleConfig config;
    int result;
    std::string reply;
    size_t writes;
    uint32_t tookMs;
    std::string left = "";
    std::string earlier = "";  // bytes the module sends `earlierMs` after the link is set up
    uint32_t earlierMs = 0;
    const char* command = "AT\r";
    unsigned capacity = 260;
};

const uint32_t kSilentSend = kBeforeSendMs + 5010;  // the wait, then the budget's last poll
const sim::ModuleConfig kPlain;
const sim::ModuleConfig kSilent = having(&M::silent, true);
const std::string kIprReply = "\r\n+IPR: 115200\r\n\r\nOK\r\n";
const std::string kFlood = letters(400);
const char* const kIpr = "AT+IPR?\r";

const ReplyCase kReplyCases[] = {
    {"echo dropped, reply kept as received", kPlain, 1, "\r\nOK\r\n", 1, kAnsweredMs},
    {"no echo", having(&M::neverEchoes, true), 1, kIprReply, 1, 0, "", "", 0, kIpr},
    {"the command after the echo is reply", having(&M::echoTwice, true), 1, "AT\r\r\nOK\r\n", 1, 0},
    {"stale bytes start the reply", kPlain, 1, "xyzAT\r\r\nOK\r\n", 1, 0, "", "xyz"},
    // A stale "A" is taken for the echo's first character; the real echo no longer matches.
    {"stale byte passes as echo", kPlain, 1, "AT\r\r\nOK\r\n", 1, 0, "", "A"},
    {"stops right behind the first OK", having(&M::unsolicitedAfterOk, "\r\n+CREG: 1\r\n"), 1,
     kIprReply, 1, 0, "\r\n+CREG: 1\r\n", "", 0, kIpr},
    {"a pause cuts the reply", having(&M::pauseInInfoMs, 100), 0, "\r\n+IPR: 115200", 1, 0,
     "\r\n\r\nOK\r\n", "", 0, kIpr},
    // A poll lands on the echo at 350 exactly; from there on as for a prompt answer.
    {"a late answer is waited for", having(&M::lateAnswerMs, 300), 1, "\r\nOK\r\n", 1,
     kAnsweredMs + 300},
    // Without the marker, a 5 ms gap ends the reply.
    {"ERROR fails at once", having(&M::refusedCommands, Texts{"AT^SFDL"}), 0, "\r\nERROR\r\n", 1,
     kAnsweredMs + 5, "", "", 0, "AT^SFDL\r"},
    {"OK without LF", having(&M::okWithoutLf, true), 0, "\r\nOK\r", 1, 0},
    {"OK ending a longer word", kSilent, 1, "\r\nBOOK\r\n", 1, 0, "", "\r\nBOOK\r\n", 60},
    // The OK and the line behind it are read to the gap, not left for the next reader.
    {"a zero byte hides the OK",
     with({},
          [](auto& c) {
              c.zeroBeforeOk = true;
              c.unsolicitedAfterOk = "\r\nRING\r\n";
          }),
     0, "\r\n", 1, 0},
    {"numeric result", having(&M::verbose, false), 0, "0\r", 1, 0, "", "", 0, "ATE0\r"},
    {"silence: a second send after the full budget", kSilent, 0, "", 2, 2 * kSilentSend, "", "", 0,
     "AT^SMSO\r"},
    {"echo without a reply is silence", having(&M::quiet, true), 0, "", 2, 2 * kSilentSend},
    {"an answer to the second send", having(&M::firstAnsweredLine, 2), 1, "\r\nOK\r\n", 2,
     kSilentSend + kAnsweredMs},
    // Back to back, so no gap ends the collection: cut at 259, the byte at the limit lost.
    {"long reply", kSilent, 0, kFlood.substr(0, 259), 1, 0, kFlood.substr(260), kFlood, 60},
    {"marker fits before the limit", kSilent, 1, letters(255) + "OK\r\n", 1, 0, "",
     letters(255) + "OK\r\n", 60},
    {"marker one byte too late", kSilent, 0, letters(256) + "OK\r", 1, 0, "",
     letters(256) + "OK\r\n", 60},
    {"marker far too late", kSilent, 0, letters(259), 1, 0, letters(300).substr(260) + "OK\r\n",
     letters(300) + "OK\r\n", 60},
    {"smallest buffer holds one byte", kSilent, 0, "O", 1, 0, "\r\n", "OK\r\n", 60, "AT\r", 2},
    // A reply began, so the command is not repeated.
    {"a reply of zero bytes", kSilent, 0, "", 1, 0, "", std::string("\0\0\0OK\r\n", 7), 60},
    // Echo matching ends with the command's last character; the zero behind it is reply.
    {"a zero right after the echo",
     with({},
          [](auto& c) {
              c.replyFor = {{"AT", std::string("\0OK\r\n", 5)}};
          }),
     0, "", 1, 0},
};

TEST(AtCommand, RepliesAreCollectedAndJudgedAsReceived) {
    for (const ReplyCase& c : kReplyCases) {
        SCOPED_TRACE(c.what);
        ModemLink link(c.config);
        if (!c.earlier.empty()) link.moduleSends(c.earlier, c.earlierMs);
        const auto r = link.send(c.command, c.capacity);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(escaped(r.text), escaped(c.reply));
        EXPECT_EQ(c.tookMs ? r.tookMs : 0, c.tookMs);
        // The command's bytes and nothing else, 50 ms after the call, and again after silence.
        const auto ws = link.writes();
        ASSERT_EQ(ws.size(), c.writes);
        for (const Event& e : ws)
            EXPECT_EQ(e.text, c.command);
        EXPECT_EQ(ws[0].atMs, kBeforeSendMs);
        EXPECT_EQ(ws.size() == 2 ? ws[1].atMs - ws[0].atMs : kSilentSend, kSilentSend);
        link.w.clock.advance(200);
        EXPECT_EQ(escaped(link.leftInPort()), escaped(c.left));
    }
}

// --- the probe ---------------------------------------------------------------------------

TEST(AtProbe, PurgeThenTheProbeAtOnceAndOkWithinTheWaitAndOneReadTimeout) {
    struct Case {
        const char* what;
        sim::ModuleConfig config;
        std::string earlier;  // sent this long after the link is set up
        uint32_t earlierMs;
        int result;
        uint32_t tookMs;  // 0: not checked
    } cases[] = {
        {"echo and OK in one burst", kPlain, "", 0, 1, 205},  // the wait, then one empty read
        {"answer beginning at 205 ms", having(&M::lateAnswerMs, 205), "", 0, 1, 0},
        {"answer beginning at 206 ms", having(&M::lateAnswerMs, 206), "", 0, 0, 205},
        {"stale OK purged", kSilent, "\r\nOK\r\n", 0, 0, 0},
        {"1995 bytes, then OK", kSilent, letters(1995) + "OK\r\n", 1, 1, 0},
        {"1996 bytes, then OK: only 1999 kept", kSilent, letters(1996) + "OK\r\n", 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModemLink link(c.config);
        if (!c.earlier.empty()) link.moduleSends(c.earlier, c.earlierMs);
        EXPECT_EQ(probeAtMode(link.w.port), c.result);
        EXPECT_EQ(c.tookMs ? link.w.clock.elapsed() - link.startMs : 0, c.tookMs);
        const auto& ev = link.w.os.events;
        ASSERT_GE(ev.size(), link.firstEvent + 2);
        EXPECT_EQ(ev[link.firstEvent].kind, Event::Kind::Purge);
        EXPECT_EQ(ev[link.firstEvent + 1].text, "ATE1V1Q0\r");
        EXPECT_EQ(ev[link.firstEvent + 1].atMs, link.startMs);  // no wait before the write
    }
}

}  // namespace
}  // namespace kestrel::test
