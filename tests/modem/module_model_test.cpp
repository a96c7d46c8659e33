// The simulated module as a V.250 speaker, driven directly (no serial layer): what it answers
// to each command line, and each way it can be told to misbehave. Every other modem test leans
// on these answers being right.
#include <gtest/gtest.h>

#include <string>

#include "modem/dialogue_transcript.h"
#include "module_model.h"

namespace kestrel::test {
namespace {

using sim::ModuleConfig;

// At its time, a line written at the host's rate, then all the module sends as the host hears
// it; "~" restarts the module (DTR off, on again 1 ms later), "@N" moves the host to rate N.
struct Step {
    uint32_t atMs;
    std::string say;
    std::string heard;
};

void play(const char* what, ModuleConfig config, const std::vector<Step>& steps) {
    SCOPED_TRACE(what);
    sim::ModuleModel m(std::move(config));
    uint32_t hostRate = 115200;
    m.setDtr(true, 0);
    for (const Step& s : steps) {
        if (s.say == "~") {
            m.setDtr(false, s.atMs);
            m.setDtr(true, s.atMs + 1);
        } else if (s.say[0] == '@') {
            hostRate = static_cast<uint32_t>(std::stoul(s.say.substr(1)));
        } else {
            m.receive(reinterpret_cast<const uint8_t*>(s.say.data()), s.say.size(), hostRate,
                      s.atMs);
        }
        std::string heard;
        for (uint32_t due = 0; m.nextByteDue(&due);)
            heard.push_back(static_cast<char>(sim::receivedAs(m.takeByte(), hostRate).value));
        EXPECT_EQ(escaped(heard), escaped(s.heard)) << escaped(s.say) << " at " << s.atMs;
    }
}

ModuleConfig with(void (*change)(ModuleConfig&)) {
    ModuleConfig c;
    change(c);
    return c;
}

TEST(ModuleModel, AnswersEachLineAsConfigured) {
    const std::string ok = "\r\nOK\r\n", error = "\r\nERROR\r\n";
    play("verbose with echo, commands in any case", {},
         {{1000, "AT\r", "AT\r" + ok},
          {1000, "at+ipr?\r", "at+ipr?\r\r\n+IPR: 115200\r\n" + ok},
          {1000, "AT+CGMR\r", "AT+CGMR\r" + error},
          {1000, "ATE2\r", "ATE2\r" + error},
          {1000, "AT+IPR=\r", "AT+IPR=\r" + error}});
    play("E0, V0 and Q1 shape their own result; a restart brings the power-on state back", {},
         {{1000, "ATE0\r", "ATE0\r" + ok},
          {1000, "ATV0\r", "0\r"},
          {1000, "ATX\r", "4\r"},
          {1000, "AT+IPR?\r", "+IPR: 115200\r\n0\r"},
          {1000, "ATQ1\r", ""},
          {1000, "ATE1V1Q0\r", ok},
          {1000, "ATE0Q1\r", "ATE0Q1\r"},
          {1100, "~", ""},
          {1400, "AT\r", "AT\r" + ok}});
    play("deaf while booting; a line without the prefix gets no result; noise before it is dropped",
         {},
         {{199, "AT\r", ""},
          {200, "xyz\r", "xyz\r"},
          {300,
           "\x91"
           "AT\r",
           "\x91"
           "AT\r" +
               ok}});
    play("+IPR= answers at the old rate, then moves, and the rate outlives a restart",
         with([](ModuleConfig& c) { c.rate = 57600; }),
         {{1000, "@57600", ""},
          {1000, "AT+IPR=115200\r", "AT+IPR=115200\r" + ok},
          {1100, "@115200", ""},
          {1100, "~", ""},
          {1400, "AT+IPR?\r", "AT+IPR?\r\r\n+IPR: 115200\r\n" + ok}});
    play("autobaud answers at the host's rate until +IPR= fixes one",
         with([](ModuleConfig& c) { c.rate = 0; }),
         {{1000, "@230400", ""},
          {1000, "AT+IPR?\r", "AT+IPR?\r\r\n+IPR: 0\r\n" + ok},
          {1000, "@9600", ""},
          {1100, "AT+IPR=57600\r", "AT+IPR=57600\r" + ok},
          {1200, "~", ""},
          {1500, "@57600", ""},
          {1500, "AT\r", "AT\r" + ok}});
    play("the download command starts the loader, which sends its start byte", {},
         {{1000, "AT^SFDL\r", "AT^SFDL\r" + ok + "\x01"}});
    play("switched off: silent", {}, {{1000, "AT^SMSO\r", "AT^SMSO\r" + ok}, {1100, "AT\r", ""}});
    play("blank lines before the information line",
         with([](ModuleConfig& c) { c.blankLinesBeforeInfo = 2; }),
         {{1000, "AT+IPR?\r", "AT+IPR?\r\r\n\r\n\r\n+IPR: 115200\r\n" + ok}});
    play("lines before the first answered one count over restarts",
         with([](ModuleConfig& c) { c.firstAnsweredLine = 3; }),
         {{1000, "AT\r", ""},
          {1100, "~", ""},
          {1500, "\r", ""},
          {1600, "AT\r", ""},
          {1700, "AT\r", "AT\r" + ok}});
}

TEST(ModuleModel, UsbPortDropsAfterTheOkAndGreetsTheHostWhenBack) {
    ModuleConfig c;
    c.usb = true;  // bytes pass at any rate: the host talks at 115200 to a 9600 module
    c.rate = 9600;
    sim::ModuleModel m(c);
    m.setDtr(true, 0);
    const std::string command = "AT^SFDL\r";
    m.receive(reinterpret_cast<const uint8_t*>(command.data()), command.size(), 115200, 1000);
    uint32_t due = 0;
    while (m.nextByteDue(&due))
        m.takeByte();
    EXPECT_EQ(due, 1002u);
    EXPECT_TRUE(m.portPresent(1201));   // gone 200 ms after the OK...
    EXPECT_FALSE(m.portPresent(1202));  // ...for 3000 ms
    EXPECT_TRUE(m.portPresent(4202));
    m.hostOpened(1100);  // an open before the drop is not the return
    EXPECT_FALSE(m.nextByteDue(&due));
    m.hostOpened(4300);
    ASSERT_TRUE(m.nextByteDue(&due));
    EXPECT_EQ(due, 4350u);
    EXPECT_EQ(m.takeByte().value, 0x01);
    m.setDtr(false, 5000);  // DTR restarts a USB module only once, at power-on
    EXPECT_TRUE(m.inLoader());
}

}  // namespace
}  // namespace kestrel::test
