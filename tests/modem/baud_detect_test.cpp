// Rate detection against the simulated module: the order in which rates are probed, the
// restarts, the confirmation at the requested rate, where the port is left, and how long a
// fruitless search takes.
#include <gtest/gtest.h>

#include "modem/baud_detect.h"
#include "modem/dialogue_timing.h"
#include "modem/modem_link.h"

namespace kestrel::test {
namespace {

struct Detection {
    int32_t result;
    Texts dialogue;  // from after the port was opened
    uint32_t portRate;
    uint32_t tookMs;
};

// `refused`: a rate the device refuses (0: none).
Detection detect(sim::ModuleConfig config, int32_t requested, uint32_t refused = 0) {
    VirtualWorld w(std::move(config));
    if (refused != 0) w.os.refusedRates = {refused};
    EXPECT_EQ(w.port.openPort("COM1", 115200, false), 1);
    const size_t opened = transcript(w.os).size();
    const uint32_t t0 = w.clock.elapsed();
    const int32_t result = detectBaudRate(w.port, requested);
    Detection d{result, transcript(w.os), w.os.rate(), w.clock.elapsed() - t0};
    d.dialogue.erase(d.dialogue.begin(), d.dialogue.begin() + static_cast<long>(opened));
    return d;
}

// A restart, then each of `rates` switched to and probed, in order; then the switch back to
// `back` after a failed confirmation (0: none).
Texts probing(const std::vector<uint32_t>& rates, uint32_t back = 0) {
    Texts out{"restart"};
    for (uint32_t r : rates)
        out.insert(out.end(), {"rate " + std::to_string(r), kProbe});
    if (back != 0) out.push_back("rate " + std::to_string(back));
    return out;
}

const auto twice = [](const Texts& pass) { return pass + pass; };

TEST(RateSearch, ProbeOrderConfirmationAndWhereThePortIsLeft) {
    const auto silent = having(&sim::ModuleConfig::silent, true);
    const auto secondTime = with({}, [](auto& m) {
        m.anyRate = true;
        m.firstAnsweredLine = 2;  // misses the first probe only
    });
    const uint32_t fruitless = 2 * kRestartMs + 12 * kSlotMs;  // 32260: two passes of six slots
    struct Case {
        const char* what;
        sim::ModuleConfig module;
        int32_t requested;
        int32_t result;
        Texts dialogue;
        uint32_t portRate;
        uint32_t tookMs;       // 0: not checked
        uint32_t refused = 0;  // a rate the device refuses
    } cases[] = {
        // Silent: two passes, each after a restart; the requested rate first and only once.
        {"silent, 115200", silent, 115200, -1,
         twice(probing({115200, 460800, 230400, 57600, 38400, 19200})), 19200, fruitless},
        {"silent, 19200", silent, 19200, -1,
         twice(probing({19200, 460800, 230400, 115200, 57600, 38400})), 38400, fruitless},
        {"silent, 9600: seven slots", silent, 9600, -1,
         twice(probing({9600, 460800, 230400, 115200, 57600, 38400, 19200})), 19200,
         fruitless + 2 * kSlotMs},
        {"silent, 0 is never probed", silent, 0, -1,
         twice(probing({460800, 230400, 115200, 57600, 38400, 19200})), 19200, fruitless},
        {"at the requested rate", firmwareModule(115200), 115200, 115200, probing({115200}), 115200,
         kRestartMs + kSlotMs},
        {"requested rate answering the second time", secondTime, 115200, 115200,
         probing({115200, 460800, 115200}), 115200, 0},
        // 0 is never searched but still confirmed; the module hears noise there.
        {"requested 0", firmwareModule(57600), 0, 57600,
         probing({460800, 230400, 115200, 57600, 0}, 57600), 57600, 0},
        // The device cannot run at 9600 and stays at 115200, where the module answers: the
        // answer counts for 9600, as the search has no way of telling.
        {"refused switch", firmwareModule(115200), 9600, 9600, Texts{"restart", kProbe}, 115200, 0,
         9600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Detection d = detect(c.module, c.requested, c.refused);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.dialogue, c.dialogue);
        EXPECT_EQ(d.portRate, c.portRate);
        EXPECT_EQ(c.tookMs ? d.tookMs : 0, c.tookMs);
    }
}

TEST(RateSearch, RestartWithoutCtsIsNotReportedAndTheSearchGoesOn) {
    VirtualWorld w(firmwareModule(115200));
    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);
    w.os.modemStatusFails = true;  // CTS can never be read
    EXPECT_EQ(detectBaudRate(w.port, 115200), 115200);
    EXPECT_EQ(writesOf(w.os, "ATE1V1Q0\r").size(), 1u);
}

}  // namespace
}  // namespace kestrel::test
