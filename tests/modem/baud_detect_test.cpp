// Rate detection against the simulated module: the order in which rates are probed, the
// restarts, the confirmation at the requested rate, where the port is left, and how long a
// fruitless search takes.
#include <gtest/gtest.h>

#include "modem/baud_detect.h"
#include "modem/dialogue_timing.h"
#include "modem/modem_link.h"

namespace kestrel::test {
namespace {

const char* const kProbe = "> ATE1V1Q0\\r";

struct Detection {
    int32_t result;
    std::vector<std::string> dialogue;  // from after the port was opened
    uint32_t portRate;
    uint32_t tookMs;
};

Detection detect(sim::ModuleConfig config, int32_t requested, uint32_t openRate = 115200,
                 std::set<uint32_t> refused = {}) {
    VirtualWorld w(std::move(config));
    w.os.refusedRates = std::move(refused);
    EXPECT_EQ(openPort("COM1", openRate, false), 1);
    const size_t opened = transcript(w.os).size();
    const uint32_t t0 = w.clock.elapsed();
    const int32_t result = detectBaudRate(requested);
    Detection d{result, transcript(w.os), w.os.rate(), w.clock.elapsed() - t0};
    d.dialogue.erase(d.dialogue.begin(), d.dialogue.begin() + static_cast<long>(opened));
    return d;
}

// The dialogue of `passes` passes that each restart and then probe `rates` in order.
std::vector<std::string> passes(const std::vector<uint32_t>& rates, int count) {
    std::vector<std::string> out;
    for (int p = 0; p < count; ++p) {
        out.push_back("restart");
        for (uint32_t r : rates) {
            out.push_back("rate " + std::to_string(r));
            out.push_back(kProbe);
        }
    }
    return out;
}

struct OrderCase {
    int32_t requested;
    std::vector<uint32_t> perPass;
    uint32_t portLeftAt;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << "requested " << c.requested;
}

class ProbeOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ProbeOrder, SilentModuleGetsTwoPassesEachAfterARestart) {
    const OrderCase& c = GetParam();
    const Detection d = detect(silentModule(), c.requested);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.dialogue, passes(c.perPass, 2));
    EXPECT_EQ(d.portRate, c.portLeftAt);
    const uint32_t probes = static_cast<uint32_t>(2 * c.perPass.size());
    EXPECT_EQ(d.tookMs, 2 * kRestartMs + probes * (kSwitchMs + kProbeMs));
}

INSTANTIATE_TEST_SUITE_P(
    Requested, ProbeOrder,
    testing::Values(OrderCase{115200, {115200, 460800, 230400, 57600, 38400, 19200}, 19200},
                    OrderCase{19200, {19200, 460800, 230400, 115200, 57600, 38400}, 38400},
                    OrderCase{9600, {9600, 460800, 230400, 115200, 57600, 38400, 19200}, 19200},
                    OrderCase{0, {460800, 230400, 115200, 57600, 38400, 19200}, 19200},
                    OrderCase{38400, {38400, 460800, 230400, 115200, 57600, 19200}, 19200}),
    [](const testing::TestParamInfo<OrderCase>& info) {
        return "Rate" + std::to_string(info.param.requested);
    });

TEST(RateSearch, SilentModuleCostsAbout32sOr37s) {
    // 12 switches when the requested rate is in the list, 14 when it is not.
    EXPECT_EQ(detect(silentModule(), 115200).tookMs, 32260u);
    EXPECT_EQ(detect(silentModule(), 9600).tookMs, 37470u);
}

TEST(RateSearch, ModuleAtTheRequestedRateIsFoundAfterOneRestartAndOneProbe) {
    const Detection d = detect(moduleAt(115200), 115200);
    EXPECT_EQ(d.result, 115200);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", "rate 115200", kProbe}));
    EXPECT_EQ(d.tookMs, kRestartMs + kSwitchMs + kProbeMs);

    const Detection slow = detect(moduleAt(9600), 9600);
    EXPECT_EQ(slow.result, 9600);
    EXPECT_EQ(slow.dialogue, (std::vector<std::string>{"restart", "rate 9600", kProbe}));
}

TEST(RateSearch, ModuleAnsweringAtEveryRateGivesTheRequestedOneAtOnce) {
    sim::ModuleConfig c;
    c.anyRate = true;
    c.rate = 57600;
    const Detection d = detect(c, 230400);
    EXPECT_EQ(d.result, 230400);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", "rate 230400", kProbe}));
}

TEST(Confirmation, FailedConfirmationLeavesThePortAtTheFoundRate) {
    const Detection d = detect(moduleAt(57600), 115200);
    EXPECT_EQ(d.result, 57600);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", "rate 115200", kProbe, "rate 460800",
                                                    kProbe, "rate 230400", kProbe, "rate 57600",
                                                    kProbe, "rate 115200", kProbe, "rate 57600"}));
    EXPECT_EQ(d.portRate, 57600u);
    EXPECT_EQ(d.tookMs, kRestartMs + 5 * (kSwitchMs + kProbeMs) + kSwitchMs);
}

TEST(Confirmation, RequestedRateThatAnswersTheSecondTimeWins) {
    sim::ModuleConfig c;
    c.anyRate = true;
    c.firstAnsweredLine = 2;  // misses the first probe only
    const Detection d = detect(c, 115200);
    EXPECT_EQ(d.result, 115200);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", "rate 115200", kProbe, "rate 460800",
                                                    kProbe, "rate 115200", kProbe}));
    EXPECT_EQ(d.portRate, 115200u);
}

TEST(Confirmation, RequestedZeroIsNeverSearchedButStillConfirmed) {
    // The device takes rate 0 here; the module at 57600 hears only noise there.
    const Detection d = detect(moduleAt(57600), 0);
    EXPECT_EQ(d.result, 57600);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", "rate 460800", kProbe, "rate 230400",
                                                    kProbe, "rate 115200", kProbe, "rate 57600",
                                                    kProbe, "rate 0", kProbe, "rate 57600"}));
    EXPECT_EQ(d.portRate, 57600u);
}

TEST(Confirmation, ProbeAfterARefusedSwitchIsCreditedToTheCandidate) {
    // The device cannot run at 9600 and stays at 115200, where the module answers: the
    // answer counts for 9600, as the search has no way of telling.
    const Detection d = detect(moduleAt(115200), 9600, 115200, {9600});
    EXPECT_EQ(d.result, 9600);
    EXPECT_EQ(d.dialogue, (std::vector<std::string>{"restart", kProbe}));
    EXPECT_EQ(d.portRate, 115200u);
}

TEST(Confirmation, RestartWithoutCtsIsNotReportedAndTheSearchGoesOn) {
    VirtualWorld w(moduleAt(115200));
    ASSERT_EQ(openPort("COM1", 115200, false), 1);
    w.os.modemStatusFails = true;  // CTS can never be read
    EXPECT_EQ(detectBaudRate(115200), 115200);
    EXPECT_EQ(probeRates(w.os), std::vector<uint32_t>{115200});
}

}  // namespace
}  // namespace kestrel::test
