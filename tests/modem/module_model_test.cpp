// The simulated module as a V.250 speaker, driven directly (no serial layer), where no other
// test looks: errors, the E, V and Q settings, booting, noise, autobaud. Every other modem test
// leans on its answers; the dialogue, rate moves, loader and USB port are pinned there.
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
         {}, {{199, "AT\r", ""}, {200, "xyz\r", "xyz\r"}, {300, "\221AT\r", "\221AT\r" + ok}});
    play("autobaud answers at the host's rate until +IPR= fixes one",
         with([](ModuleConfig& c) { c.rate = 0; }),
         {{1000, "@230400", ""},
          {1000, "AT+IPR?\r", "AT+IPR?\r\r\n+IPR: 0\r\n" + ok},
          {1000, "@9600", ""},
          {1100, "AT+IPR=57600\r", "AT+IPR=57600\r" + ok},
          {1200, "~", ""},
          {1500, "@57600", ""},
          {1500, "AT\r", "AT\r" + ok}});
}

}  // namespace
}  // namespace kestrel::test
