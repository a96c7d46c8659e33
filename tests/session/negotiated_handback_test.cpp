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
        ok = completeSession(s);
        dialogue = transcript(w.os);
        dialogue.erase(dialogue.begin(), dialogue.begin() + 2);  // the set-up's open
        tookMs = w.clock.elapsed() - startMs;
    }
    VirtualWorld w;
    Session s;
    bool ok;
    uint32_t startMs;
    Texts dialogue;
    uint32_t tookMs;
};

// Each attempt: close, 1000 ms, open, then two silent passes (a restart and six switches and
// probes each), or the module found at once and `original` restored.
const uint32_t kAttemptMs = 1000 + 2 * kRestartMs + 12 * kSlotMs;
Texts attempts(int fruitless, int32_t original = -1) {
    std::string pass = "|restart";
    for (uint32_t r : {115200, 460800, 230400, 57600, 38400, 19200})
        pass += "|rate " + std::to_string(r) + "|" + kProbe;
    std::string all;
    for (int i = 0; i < fruitless; ++i)
        all += "|close|open COM1|rate 115200" + pass + pass;
    if (original != -1) {
        const std::string rate = std::to_string(original);
        all += "|close|open COM1|rate 115200|restart|rate 115200|" + std::string(kProbe) +
               "|> AT+IPR=" + rate + "\\r|rate " + rate + "|> AT^SMSO\\r";
    }
    return split(all.substr(1));
}

TEST(Restoration, RestoresTheRateFromWhereTheModuleIsFoundAndSwitchesItOff) {
    const std::pair<uint32_t, int32_t> cases[] = {{115200, 57600}, {115200, 0}, {57600, 9600}};
    for (const auto& [moduleRate, original] : cases) {
        SCOPED_TRACE(original);
        const HandBack h(firmwareModule(moduleRate), original);
        EXPECT_TRUE(h.ok);
        const std::string restore = "AT+IPR=" + std::to_string(original) + "\r";
        EXPECT_EQ(writesOf(h.w.os, restore).at(0).rate, moduleRate);
        EXPECT_EQ(writesOf(h.w.os, "AT^SMSO\r").at(0).rate, static_cast<uint32_t>(original));
        if (moduleRate == 115200) {
            EXPECT_EQ(h.dialogue, attempts(0, original));
        }
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_TRUE(h.w.module.switchedOff());
        // The port stays open at the original rate for the session's own clean-up.
        EXPECT_TRUE(h.w.os.isOpen());
        EXPECT_EQ(h.w.os.rate(), static_cast<uint32_t>(original));
    }
}

TEST(Restoration, ModuleAnsweringOnlyInTheThirdAttempt) {
    // A fixed-rate module hears one probe per pass at its own rate (the others are noise
    // with no line end): two passes in each of the first two attempts go unanswered.
    auto c = firmwareModule(115200);
    c.firstAnsweredLine = 5;
    const HandBack h(c, 57600);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.dialogue, attempts(2, 57600));
    EXPECT_EQ(writesOf(h.w.os, "AT+IPR=57600\r").at(0).atMs - h.startMs,
              2 * kAttemptMs + 1000 + kRestartMs + kSlotMs + kBeforeSendMs);
    EXPECT_TRUE(h.w.host.statuses.empty());
}

TEST(Restoration, FiveAttemptsWithoutAnAnswerFail) {
    auto c = firmwareModule(115200);
    c.silent = true;
    const HandBack h(c, 57600);
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.dialogue, attempts(5));
    EXPECT_EQ(h.w.host.texts(),
              Texts{"ERROR: cannot enter AT command mode change back to original baudrate."});
    EXPECT_EQ(h.tookMs, 5 * kAttemptMs);
}

TEST(Choice, NothingToDoWhenTheRateIsUnknownOrUnchangedOrTheLinkIsUsb) {
    struct Case {
        int32_t original;
        bool blockUpdate, usb;
    } cases[] = {
        {-1, false, false}, {115200, false, false}, {57600, false, true}, {57600, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original + c.usb);
        const HandBack h(firmwareModule(115200), c.original, c.blockUpdate, c.usb);
        EXPECT_TRUE(h.ok);
        EXPECT_TRUE(h.dialogue.empty());
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_EQ(h.tookMs, 0u);
    }
}

}  // namespace
}  // namespace kestrel::test
