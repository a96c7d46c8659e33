// The simulated module as a V.250 speaker, driven directly (no serial layer): what it answers
// to each command line, at which rate and when, and each way it can be told to misbehave.
// Every other modem test leans on these answers being right.
#include <gtest/gtest.h>

#include <string>

#include "modem/dialogue_transcript.h"
#include "module_model.h"

namespace kestrel::test {
namespace {

using sim::ModuleConfig;
using sim::ModuleModel;

// A module powered up at t = 0 and booted; the host talks to it at `hostRate`.
struct Bench {
    explicit Bench(ModuleConfig c = {}, uint32_t rate = 115200) : m(std::move(c)), hostRate(rate) {
        m.setDtr(true, 0);
    }
    // Writes `line` at `atMs` and returns everything the module sends by `untilMs` (default:
    // everything queued), as the host at its rate receives it.
    std::string say(const std::string& line, uint32_t atMs = 1000, uint32_t untilMs = ~0u) {
        m.receive(reinterpret_cast<const uint8_t*>(line.data()), line.size(), hostRate, atMs);
        return drain(untilMs);
    }
    std::string drain(uint32_t untilMs = ~0u) {
        std::string out;
        uint32_t due = 0;
        while (m.nextByteDue(&due) && due <= untilMs) {
            firstDue = out.empty() ? due : firstDue;
            out.push_back(static_cast<char>(sim::receivedAs(m.takeByte(), hostRate).value));
        }
        return out;
    }
    ModuleModel m;
    uint32_t hostRate;
    uint32_t firstDue = 0;
};

TEST(ModuleModel, AnswersTheDialogueCommandsVerboselyWithEcho) {
    Bench b;
    EXPECT_EQ(escaped(b.say("AT\r")), "AT\\r\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(b.say("AT+IPR?\r")), "AT+IPR?\\r\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(b.say("ATE1V1Q0\r")), "ATE1V1Q0\\r\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(b.say("at+ipr?\r")), "at+ipr?\\r\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
    // Anything it does not know, or an out-of-range parameter, is an error.
    EXPECT_EQ(escaped(b.say("AT+CGMR\r")), "AT+CGMR\\r\\r\\nERROR\\r\\n");
    EXPECT_EQ(escaped(b.say("ATE2\r")), "ATE2\\r\\r\\nERROR\\r\\n");
    EXPECT_EQ(escaped(b.say("AT+IPR=\r")), "AT+IPR=\\r\\r\\nERROR\\r\\n");
    EXPECT_EQ(b.m.stats().commandLines.size(), 7u);
}

TEST(ModuleModel, EchoVerboseAndQuietSettingsAreHonouredAndRestartRestoresThem) {
    Bench b;
    EXPECT_EQ(escaped(b.say("ATE0\r")), "ATE0\\r\\r\\nOK\\r\\n");  // echoed: E0 was not yet set
    EXPECT_EQ(escaped(b.say("AT\r")), "\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(b.say("ATV0\r")), "0\\r");  // numeric results, in the new form already
    EXPECT_EQ(escaped(b.say("ATX\r")), "4\\r");
    EXPECT_EQ(escaped(b.say("AT+IPR?\r")), "+IPR: 115200\\r\\n0\\r");
    EXPECT_EQ(escaped(b.say("ATQ1\r")), "");  // no result codes at all
    EXPECT_EQ(escaped(b.say("AT+IPR?\r")), "+IPR: 115200\\r\\n");
    EXPECT_EQ(escaped(b.say("ATE1V1Q0\r")), "\\r\\nOK\\r\\n");
    EXPECT_EQ(escaped(b.say("AT\r")), "AT\\r\\r\\nOK\\r\\n");

    ModuleConfig c;
    c.echo = false;
    c.verbose = false;
    c.quiet = true;
    Bench q(c);
    EXPECT_EQ(escaped(q.say("ATE1\r")), "");
    EXPECT_EQ(escaped(q.say("AT\r")), "AT\\r");
    // A restart brings the power-on state back.
    q.m.setDtr(false, 2000);
    q.m.setDtr(true, 2100);
    EXPECT_EQ(escaped(q.say("AT\r", 2400)), "");
}

TEST(ModuleModel, DeafWhileBootingAndLinesWithoutThePrefixGetNoAnswer) {
    ModuleConfig c;
    c.bootMs = 200;
    Bench b(c);
    EXPECT_EQ(b.say("AT\r", 199), "");
    EXPECT_EQ(escaped(b.say("xyz\r", 200)), "xyz\\r");
    // Noise in front of the prefix is dropped.
    EXPECT_EQ(escaped(b.say("\x91"
                            "AT\r",
                            300)),
              "\\x91AT\\r\\r\\nOK\\r\\n");
}

TEST(ModuleModel, IprSetAnswersAtTheOldRateThenMovesAndKeepsTheRateAcrossRestarts) {
    ModuleConfig c;
    c.rate = 57600;
    Bench b(c, 57600);
    EXPECT_EQ(escaped(b.say("AT+IPR=115200\r")), "AT+IPR=115200\\r\\r\\nOK\\r\\n");
    EXPECT_EQ(b.m.currentRate(), 115200u);
    // At the old rate it now hears noise: garbled echo, no command, no result.
    const std::string noise = b.say("AT\r", 1100);
    EXPECT_EQ(noise.size(), 3u);
    for (char ch : noise)
        EXPECT_NE(ch & 0x80, 0);
    b.hostRate = 115200;
    b.m.setDtr(false, 1200);
    b.m.setDtr(true, 1300);
    EXPECT_EQ(escaped(b.say("AT+IPR?\r", 1600)),
              "AT+IPR?\\r\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
}

TEST(ModuleModel, AutobaudRateZeroAndAnyRateAnswerAtTheHostsRate) {
    ModuleConfig c;
    c.rate = 0;
    Bench b(c, 230400);
    EXPECT_EQ(escaped(b.say("AT+IPR?\r")), "AT+IPR?\\r\\r\\n+IPR: 0\\r\\n\\r\\nOK\\r\\n");
    b.hostRate = 9600;
    EXPECT_EQ(escaped(b.say("AT\r", 1100)), "AT\\r\\r\\nOK\\r\\n");
    // Setting a fixed rate ends the autobaud.
    b.say("AT+IPR=57600\r", 1200);
    b.m.setDtr(false, 1300);
    b.m.setDtr(true, 1400);
    EXPECT_NE(escaped(b.say("AT\r", 1700)), "AT\\r\\r\\nOK\\r\\n");
    b.hostRate = 57600;
    EXPECT_EQ(escaped(b.say("AT\r", 1800)), "AT\\r\\r\\nOK\\r\\n");
}

TEST(ModuleModel, DownloadCommandSwitchesToTheLoaderWhichSendsItsStartByte) {
    ModuleConfig c;
    c.startDelayMs = 50;
    Bench b(c);
    EXPECT_EQ(escaped(b.say("AT^SFDL\r", 1000, 1002)), "AT^SFDL\\r\\r\\nOK\\r\\n");
    EXPECT_TRUE(b.m.inLoader());
    EXPECT_EQ(escaped(b.drain()), "\\x01");
    EXPECT_EQ(b.firstDue, 1052u);
}

TEST(ModuleModel, SwitchOffAnswersOkThenGoesSilentWithCtsOff) {
    Bench b;
    EXPECT_TRUE(b.m.cts(900));
    EXPECT_EQ(escaped(b.say("AT^SMSO\r")), "AT^SMSO\\r\\r\\nOK\\r\\n");
    EXPECT_TRUE(b.m.switchedOff());
    EXPECT_FALSE(b.m.cts(1001));
    EXPECT_EQ(b.say("AT\r", 1100), "");
}

TEST(ModuleModel, UsbPortDropsAfterTheOkAndReturnsAndBytesPassAtAnyRate) {
    ModuleConfig c;
    c.usb = true;
    c.usbDropMs = 200;
    c.usbGoneMs = 3000;
    Bench b(c, 9600);  // a rate the firmware was never set to
    EXPECT_EQ(escaped(b.say("AT^SFDL\r", 1000)), "AT^SFDL\\r\\r\\nOK\\r\\n");
    EXPECT_TRUE(b.m.portPresent(1201));
    EXPECT_FALSE(b.m.portPresent(1202));
    EXPECT_FALSE(b.m.portPresent(4201));
    EXPECT_TRUE(b.m.portPresent(4202));
    b.m.hostOpened(1100);  // an open before the drop is not the return
    EXPECT_EQ(b.drain(), "");
    b.m.hostOpened(4300);
    EXPECT_EQ(escaped(b.drain()), "\\x01");
    EXPECT_EQ(b.firstDue, 4350u);
    // DTR no longer restarts it.
    b.m.setDtr(false, 5000);
    EXPECT_TRUE(b.m.inLoader());
}

TEST(ModuleModel, BlankLinesBeforeTheInformationLine) {
    ModuleConfig c;
    c.blankLinesBeforeInfo = 2;
    EXPECT_EQ(escaped(Bench(c).say("AT+IPR?\r")),
              "AT+IPR?\\r\\r\\n\\r\\n\\r\\n+IPR: 115200\\r\\n\\r\\nOK\\r\\n");
}

TEST(ModuleModel, FirstAnsweredLineCountsEveryLineOverRestarts) {
    ModuleConfig c;
    c.firstAnsweredLine = 3;
    Bench b(c);
    EXPECT_EQ(b.say("AT\r", 1000), "");  // line 1: not even echoed
    b.m.setDtr(false, 1100);
    b.m.setDtr(true, 1200);
    EXPECT_EQ(b.say("\r", 1500), "");    // an empty line is no command line
    EXPECT_EQ(b.say("AT\r", 1600), "");  // line 2
    EXPECT_EQ(escaped(b.say("AT\r", 1700)), "AT\\r\\r\\nOK\\r\\n");  // line 3
    EXPECT_EQ(escaped(b.say("AT\r", 1800)), "AT\\r\\r\\nOK\\r\\n");
}

}  // namespace
}  // namespace kestrel::test
