// The hand-back on its own: which procedure runs and the rate restoration with its attempts,
// with the port as the transfer left it (open at the operator's rate).
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;

struct HandBack {
    HandBack(sim::ModuleConfig config, int32_t originalRate, bool blockUpdate = false,
             bool usb = false)
        : w(std::move(config)), s(phaseSession(w, 115200, usb)) {
        s.originalRate = originalRate;
        s.blockUpdateMode = blockUpdate;
        EXPECT_EQ(w.port.openPort("COM1", 115200, usb), 1);
        startMs = w.clock.elapsed();
    }
    bool run() {
        const bool ok = completeSession(s);
        dialogue = transcript(w.os);
        dialogue.erase(dialogue.begin(), dialogue.begin() + 2);  // the set-up's open
        tookMs = w.clock.elapsed() - startMs;
        return ok;
    }
    VirtualWorld w;
    Session s;
    uint32_t startMs = 0;
    Texts dialogue;
    uint32_t tookMs = 0;
};

const char* const kProbe = "> ATE1V1Q0\\r";
const Texts kReopen{"close", "open COM1", "rate 115200"};

// One attempt that finds nobody: a re-open and two silent passes.
Texts fruitlessAttempts(int count) {
    Texts out;
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), kReopen.begin(), kReopen.end());
        for (int pass = 0; pass < 2; ++pass) {
            out.push_back("restart");
            for (uint32_t r : {115200, 460800, 230400, 57600, 38400, 19200}) {
                out.push_back("rate " + std::to_string(r));
                out.push_back(kProbe);
            }
        }
    }
    return out;
}

// The attempt that finds the module at once and restores `original`.
Texts restoringAttempt(int32_t original) {
    const std::string rate = std::to_string(original);
    Texts out = kReopen;
    out.insert(out.end(), {"restart", "rate 115200", kProbe, "> AT+IPR=" + rate + "\\r",
                           "rate " + rate, "> AT^SMSO\\r"});
    return out;
}

TEST(Restoration, RestoresTheRateFromWhereTheModuleIsFoundAndSwitchesItOff) {
    const std::pair<uint32_t, int32_t> cases[] = {{115200, 57600}, {115200, 0}, {57600, 9600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        HandBack h(firmwareModule(c.first), c.second);
        EXPECT_TRUE(h.run());
        const std::string restore = "AT+IPR=" + std::to_string(c.second) + "\r";
        EXPECT_EQ(writesOf(h.w.os, restore).at(0).rate, c.first);
        EXPECT_EQ(writesOf(h.w.os, "AT^SMSO\r").at(0).rate, static_cast<uint32_t>(c.second));
        if (c.first == 115200) {
            EXPECT_EQ(h.dialogue, restoringAttempt(c.second));
        }
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_TRUE(h.w.module.switchedOff());
        // The port stays open at the original rate for the session's own clean-up.
        EXPECT_TRUE(h.w.os.isOpen());
        EXPECT_EQ(h.w.os.rate(), static_cast<uint32_t>(c.second));
    }
}

TEST(Restoration, ModuleAnsweringOnlyInTheThirdAttempt) {
    // A fixed-rate module hears one probe per pass at its own rate (the others are noise
    // with no line end): two passes in each of the first two attempts go unanswered.
    auto c = firmwareModule(115200);
    c.firstAnsweredLine = 5;
    HandBack h(c, 57600);
    EXPECT_TRUE(h.run());
    Texts expected = fruitlessAttempts(2);
    const Texts found = restoringAttempt(57600);
    expected.insert(expected.end(), found.begin(), found.end());
    EXPECT_EQ(h.dialogue, expected);
    // Each fruitless attempt: close, 1000 ms, open, two restarts and twelve switches+probes.
    const uint32_t attemptMs = 1000 + 2 * kRestartMs + 12 * kSlotMs;
    EXPECT_EQ(writesOf(h.w.os, "AT+IPR=57600\r").at(0).atMs - h.startMs,
              2 * attemptMs + 1000 + kRestartMs + kSlotMs + kBeforeSendMs);
    EXPECT_TRUE(h.w.host.statuses.empty());
}

TEST(Restoration, FiveAttemptsWithoutAnAnswerFail) {
    auto c = firmwareModule(115200);
    c.silent = true;
    HandBack h(c, 57600);
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.dialogue, fruitlessAttempts(5));
    EXPECT_EQ(h.w.host.texts(),
              Texts{"ERROR: cannot enter AT command mode change back to original baudrate."});
    EXPECT_EQ(h.tookMs, 5 * (1000 + 2 * kRestartMs + 12 * kSlotMs));
}

TEST(Choice, NothingToDoWhenTheRateIsUnknownOrUnchangedOrTheLinkIsUsb) {
    struct Case {
        int32_t original;
        bool blockUpdate;
        bool usb;
    } cases[] = {
        {-1, false, false}, {115200, false, false}, {57600, false, true}, {57600, true, true}};
    for (const Case& c : cases) {
        HandBack h(firmwareModule(115200), c.original, c.blockUpdate, c.usb);
        EXPECT_TRUE(h.run()) << c.original;
        EXPECT_TRUE(h.dialogue.empty()) << c.original << " usb " << c.usb;
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_EQ(h.tookMs, 0u);
    }
}

}  // namespace
}  // namespace kestrel::test
