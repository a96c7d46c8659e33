// The hand-back on its own: which procedure runs, the rate restoration with its attempts, and
// the block-update finish, with the port as the transfer left it (open at the operator's rate).
#include <gtest/gtest.h>

#include "session/negotiated_util.h"

namespace kestrel::test {
namespace {

struct HandBack {
    HandBack(sim::ModuleConfig config, int32_t originalRate, bool blockUpdate = false,
             bool usb = false)
        : w(std::move(config)), s(phaseSession(w.host, 115200, usb)) {
        s.originalRate = originalRate;
        s.blockUpdateMode = blockUpdate;
        EXPECT_EQ(openPort("COM1", 115200, usb), 1);
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
    std::vector<std::string> dialogue;
    uint32_t tookMs = 0;
};

const char* const kProbe = "> ATE1V1Q0\\r";
const std::vector<std::string> kFoundAtOnce{"restart", "rate 115200", kProbe};

// One attempt that finds nobody: a re-open and two silent passes.
std::vector<std::string> fruitlessAttempt() {
    std::vector<std::string> out{"close", "open COM1", "rate 115200"};
    for (int pass = 0; pass < 2; ++pass) {
        out.push_back("restart");
        for (uint32_t r : {115200, 460800, 230400, 57600, 38400, 19200}) {
            out.push_back("rate " + std::to_string(r));
            out.push_back(kProbe);
        }
    }
    return out;
}

TEST(Restoration, ReopensFindsTheModuleRestoresItsRateAndSwitchesItOff) {
    HandBack h(firmwareModule(115200), 57600);
    EXPECT_TRUE(h.run());
    std::vector<std::string> expected{"close", "open COM1", "rate 115200"};
    expected.insert(expected.end(), kFoundAtOnce.begin(), kFoundAtOnce.end());
    expected.insert(expected.end(), {"> AT+IPR=57600\\r", "rate 57600", "> AT^SMSO\\r"});
    EXPECT_EQ(h.dialogue, expected);
    const auto restore = writesOf(h.w.os, "AT+IPR=57600\r");
    const auto off = writesOf(h.w.os, "AT^SMSO\r");
    ASSERT_EQ(restore.size(), 1u);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(restore[0].atMs - h.startMs, 1000 + kRestartMs + kSlotMs + kBeforeSendMs);
    EXPECT_EQ(off[0].atMs - restore[0].atMs,
              kAnsweredMs - kBeforeSendMs + kSwitchMs + 1000 + kBeforeSendMs);
    EXPECT_EQ(off[0].rate, 57600u);
    EXPECT_TRUE(h.w.host.statuses.empty());
    EXPECT_TRUE(h.w.module.switchedOff());
    // The port stays open at the original rate for the session's own clean-up.
    EXPECT_TRUE(h.w.os.isOpen());
    EXPECT_EQ(h.w.os.rate(), 57600u);
}

TEST(Restoration, ModuleFoundAtAnotherRateIsRestoredFromThere) {
    HandBack h(firmwareModule(57600), 9600);
    EXPECT_TRUE(h.run());
    const auto restore = writesOf(h.w.os, "AT+IPR=9600\r");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_EQ(restore[0].rate, 57600u);
    EXPECT_EQ(writesOf(h.w.os, "AT^SMSO\r").at(0).rate, 9600u);
    EXPECT_TRUE(h.w.module.switchedOff());
}

TEST(Restoration, ModuleAnsweringOnlyInTheThirdAttempt) {
    // A fixed-rate module hears one probe per pass at its own rate (the others are noise
    // with no line end): two passes in each of the first two attempts go unanswered.
    auto c = firmwareModule(115200);
    c.firstAnsweredLine = 5;
    HandBack h(c, 57600);
    EXPECT_TRUE(h.run());
    auto expected = fruitlessAttempt();
    const auto second = fruitlessAttempt();
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {"close", "open COM1", "rate 115200"});
    expected.insert(expected.end(), kFoundAtOnce.begin(), kFoundAtOnce.end());
    expected.insert(expected.end(), {"> AT+IPR=57600\\r", "rate 57600", "> AT^SMSO\\r"});
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
    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i) {
        const auto attempt = fruitlessAttempt();
        expected.insert(expected.end(), attempt.begin(), attempt.end());
    }
    EXPECT_EQ(h.dialogue, expected);
    EXPECT_EQ(h.w.host.texts(),
              std::vector<std::string>{
                  "ERROR: cannot enter AT command mode change back to original baudrate."});
    EXPECT_EQ(h.tookMs, 5 * (1000 + 2 * kRestartMs + 12 * kSlotMs));
}

TEST(Restoration, PortThatCannotBeReopenedEndsAtOnce) {
    HandBack h(firmwareModule(115200), 57600);
    h.w.os.devices.clear();
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.dialogue,
              (std::vector<std::string>{"close", "open failed COM1", "open failed \\\\.\\COM1"}));
    EXPECT_EQ(h.w.host.texts(),
              std::vector<std::string>{
                  "ERROR: cannot access COM port to change back to original baudrate."});
    EXPECT_EQ(h.tookMs, 1000u);
    EXPECT_FALSE(h.w.os.isOpen());
}

TEST(Restoration, OriginalRateZeroIsRestoredLikeAnyOther) {
    HandBack h(firmwareModule(115200), 0);
    EXPECT_TRUE(h.run());
    const std::vector<std::string> tail(h.dialogue.end() - 3, h.dialogue.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"> AT+IPR=0\\r", "rate 0", "> AT^SMSO\\r"}));
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

TEST(BlockUpdateFinish, RestartsTheModuleAndWaits5000msBeforeClosing) {
    HandBack h(firmwareModule(115200), 57600, true);  // a known, different rate is ignored
    EXPECT_TRUE(h.run());
    EXPECT_EQ(h.dialogue,
              (std::vector<std::string>{"close", "open COM1", "rate 115200", "restart", "close"}));
    const auto opens = h.w.os.eventsOf(Event::Kind::Open);
    const auto closes = h.w.os.eventsOf(Event::Kind::Close);
    ASSERT_EQ(opens.size(), 2u);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(opens[1].atMs - closes[0].atMs, 1000u);
    EXPECT_EQ(closes[1].atMs - opens[1].atMs, kRestartMs + 5000);
    EXPECT_FALSE(h.w.os.isOpen());
    EXPECT_TRUE(h.w.os.eventsOf(Event::Kind::Write).empty());
}

TEST(BlockUpdateFinish, PortThatCannotBeReopenedFails) {
    HandBack h(firmwareModule(115200), -1, true);
    h.w.os.devices.clear();
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.w.host.texts(),
              std::vector<std::string>{"ERROR: cannot access COM port to perform block update."});
    EXPECT_EQ(countOf(h.dialogue, "restart"), 0);
}

}  // namespace
}  // namespace kestrel::test
