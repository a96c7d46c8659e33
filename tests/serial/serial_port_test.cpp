// The serial driver's own logic in virtual time: failed opens, rate switches with their DTR
// pulse, restarts and the CTS wait, the reads, and the closed port.
#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "support/virtual_world.h"

namespace kestrel::test {
namespace {

using K = Event::Kind;
using Lines = std::vector<std::string>;

struct Driver : testing::Test {
    static sim::ModuleConfig fastBoot() {
        sim::ModuleConfig c;
        c.bootMs = 50;
        return c;
    }
    VirtualWorld w{fastBoot()};

    // What the device saw since the last call, one line per event, at ms since the last took().
    Lines seen() {
        Lines out;
        for (size_t i = seen_; i < w.os.events.size(); ++i) {
            const Event& e = w.os.events[i];
            static const char* const kNames[] = {"open ", "open failed ", "close",  "rate ",
                                                 "dtr ",  "purge",        "write ", nullptr};
            const char* name = kNames[static_cast<int>(e.kind)];
            if (name == nullptr) continue;  // the module's own bytes
            std::string line = std::to_string(e.atMs - mark_) + " " + name + e.text;
            if (e.kind == K::Settings) line += std::to_string(e.rate) + (e.on ? " dtr" : "");
            if (e.kind == K::Dtr) line += e.on ? "on" : "off";
            out.push_back(line);
        }
        seen_ = w.os.events.size();
        return out;
    }
    // Milliseconds since the last took().
    uint32_t took() {
        const uint32_t ms = w.clock.elapsed() - mark_;
        mark_ = w.clock.elapsed();
        return ms;
    }

  private:
    size_t seen_ = 0;
    uint32_t mark_ = 0;
};

// Opening and closing on each port kind are pinned through the session's transcripts
// (FallbackRoad.BytesLinesAndWaitsInOrder): here, only the opens that fail.
TEST_F(Driver, AFailedOpenIsTriedOnceAndRefusedSettingsCloseTheDeviceAgain) {
    // A name that does not open is tried once, as typed (its reason: PtyOpenTest.WhatIsNo-
    // SerialPortIsRefusedWithItsReason); refused settings or timeouts close the device again.
    EXPECT_EQ(w.port.openPort("COM14", 115200, false), 0);
    w.os.refusedRates = {300};
    EXPECT_EQ(w.port.openPort("COM1", 300, false), 0);
    w.os.timeoutsRefused = true;
    EXPECT_EQ(w.port.openPort("COM1", 115200, false), 0);
    w.port.closePort();  // nothing to close
    EXPECT_EQ(seen(), (Lines{"0 open failed COM14", "0 open COM1", "0 close", "0 open COM1",
                             "0 rate 115200", "0 close"}));
    EXPECT_FALSE(w.port.portIsOpen());
}

TEST_F(Driver, RateSwitchesSettleAndPulseDtrOnlyWhenTheDeviceRunsAtTheRate) {
    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);
    EXPECT_EQ(w.port.restartModule(), 1);
    seen();
    took();
    EXPECT_EQ(w.port.setBaudRate(115200), 1);  // the same rate: still the full pulse
    EXPECT_EQ(seen(), (Lines{"0 rate 115200 dtr", "1500 dtr off", "1900 dtr on"}));
    EXPECT_EQ(took(), 2400u);
    EXPECT_EQ(w.port.portLineSettings().dtrOn, true);  // the pulse leaves the mode

    w.os.substitutes = {{123456, 38400}};
    EXPECT_EQ(w.port.setBaudRate(123456), 0);
    EXPECT_EQ(w.port.portLineSettings().rate, 38400u);  // the record follows the device
    w.os.refusedRates = {250000};
    EXPECT_EQ(w.port.setBaudRate(250000), 0);
    EXPECT_EQ(seen(), Lines{"0 rate 123456 dtr"});  // no wait, no pulse
    EXPECT_EQ(took(), 0u);
}

TEST_F(Driver, RestartAndCtsWaits) {
    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);  // DTR low: module down, CTS off
    seen();
    took();
    EXPECT_EQ(w.port.waitForCts(0, 1000), 1);
    EXPECT_EQ(took(), 500u);  // a level already there still settles
    EXPECT_EQ(w.port.waitForCts(7, 20), 0);
    EXPECT_EQ(took(), 21u);  // no such level: the time runs out, tested after the line
    EXPECT_EQ(w.port.restartModule(), 1);
    EXPECT_EQ(seen(), Lines{"100 dtr on"});  // DTR was already low after the RS-232 open
    EXPECT_EQ(took(), 500u);                 // 300 after DTR on, 100 after CTS came

    w.os.modemStatusFails = true;  // unreadable modem status ends the CTS wait at once
    EXPECT_EQ(w.port.restartModule(), 0);
    EXPECT_EQ(seen(), (Lines{"0 dtr off", "100 dtr on"}));
    EXPECT_EQ(took(), 400u);

    sim::ModuleConfig slow;
    slow.bootMs = 60000;  // CTS never comes within the wait
    VirtualWorld late(slow);
    ASSERT_EQ(late.port.openPort("COM1", 115200, false), 1);
    const uint32_t t0 = late.clock.elapsed();
    EXPECT_EQ(late.port.restartModule(), 0);
    EXPECT_EQ(late.clock.elapsed() - t0, 100u + 300u + 15001u);
}

TEST_F(Driver, TimedAndCheckedReads) {
    // One 5 ms attempt per try and a waiting byte at once: pinned through the session's waits
    // (StartSignal.*, Answers.*).
    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);
    uint8_t b = 0;
    // Bytes sent at another rate arrive garbled and flagged: the checked read drops them and
    // takes the clean one after them; the timed read hands over what came.
    w.module.sendRaw({'A', 'B', 'C'}, w.clock.nowMs(), 57600);
    w.module.sendRaw({'D'}, w.clock.nowMs() + 20, 115200);
    EXPECT_EQ(w.port.readByteChecked(&b, 1000), 1);
    EXPECT_EQ(b, 'D');
    w.module.sendRaw({'E'}, w.clock.nowMs(), 57600);
    EXPECT_EQ(w.port.readByteTimed(&b, 1000), 1);
    EXPECT_NE(b, 'E');
    w.module.sendRaw({'F', 'G'}, w.clock.nowMs(), 57600);
    took();
    EXPECT_EQ(w.port.readByteChecked(&b, 300), 0);  // nothing clean: 0 after the full wait
    EXPECT_EQ(took(), 300u);
    w.os.lineErrorQueryFails = true;  // a failing error query leaves the attempt as it was
    w.module.sendRaw({'H'}, w.clock.nowMs(), 57600);
    EXPECT_EQ(w.port.readByteChecked(&b, 100), 1);

    VirtualWorld wrap(fastBoot(), 0xFFFFFF00u);  // 256 ms before the counter wraps
    ASSERT_EQ(wrap.port.openPort("COM1", 115200, false), 1);
    EXPECT_EQ(wrap.port.readByteTimed(&b, 1000), 0);
    EXPECT_EQ(wrap.clock.elapsed(), 1000u);  // its full length
}

TEST_F(Driver, ClosedPortFailsEverythingWithoutTouchingTheDeviceAndZeroBytesAreNoWrite) {
    uint8_t b = 0;
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(
        (std::vector<int>{w.port.writeBytes(bytes, 3), w.port.setBaudRate(115200),
                          w.port.purgePort(), w.port.waitForCts(1, 100), w.port.readByteNow(&b)}),
        std::vector<int>(5, 0));
    EXPECT_EQ(took(), 0u);
    EXPECT_EQ(w.port.restartModule(), 0);
    EXPECT_EQ(took(), 400u);                      // the restart still takes its waits
    EXPECT_EQ(w.port.readByteTimed(&b, 250), 0);  // keeps trying until its limit, not spinning
    EXPECT_EQ(took(), 250u);
    w.port.closePort();
    EXPECT_TRUE(w.os.events.empty());

    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);
    seen();
    EXPECT_EQ(w.port.writeBytes(bytes, 0), 0);
    EXPECT_EQ(w.port.writeBytes(bytes, 1), 1);
    EXPECT_EQ(seen(), Lines{"0 write \x01"});
}

}  // namespace
}  // namespace kestrel::test
