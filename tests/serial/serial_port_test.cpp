// The serial driver's own logic in virtual time: opening, rate switches with their DTR pulse,
// restarts and the CTS wait, the three reads, and the closed port.
#include <gtest/gtest.h>

#include <cerrno>

#include "serial/serial_port.h"
#include "support/virtual_world.h"

namespace kestrel::test {
namespace {

using K = Event::Kind;

struct Driver : testing::Test {
    sim::ModuleConfig fastBoot() {
        sim::ModuleConfig c;
        c.bootMs = 50;
        return c;
    }
    VirtualWorld w{fastBoot()};
    void openCom1(uint32_t rate = 115200, bool usb = false) {
        ASSERT_EQ(w.port.openPort("COM1", rate, usb), 1);
    }
};

TEST_F(Driver, OpenAppliesSettingsTimeoutsAndPurgesWithDtrPerPortKind) {
    openCom1(115200, false);
    EXPECT_EQ(w.port.portLineSettings().rate, 115200u);
    EXPECT_EQ(w.port.portLineSettings().dtrOn, false);
    EXPECT_FALSE(w.os.dtr());
    EXPECT_EQ(w.os.eventsOf(K::Purge).size(), 1u);
    w.port.closePort();
    ASSERT_EQ(w.port.openPort("COM1", 57600, true), 1);
    EXPECT_EQ(w.port.portLineSettings().dtrOn, true);
    EXPECT_TRUE(w.os.dtr());
}

TEST_F(Driver, NameGoesToTheDeviceAsTypedOnceAndAFailureKeepsItsReason) {
    openCom1();
    EXPECT_TRUE(w.os.eventsOf(K::OpenFailed).empty());
    EXPECT_FALSE(w.port.lastError().known());
    w.port.closePort();

    EXPECT_EQ(w.port.openPort("COM14", 115200, false), 0);
    const auto failed = w.os.eventsOf(K::OpenFailed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].text, "COM14");
    EXPECT_EQ(w.port.lastError().code, ENOENT);
    EXPECT_STREQ(w.port.lastError().path, "COM14");
    EXPECT_FALSE(w.port.portIsOpen());
    w.port.closePort();  // harmless after a failed open
    EXPECT_EQ(w.os.eventsOf(K::Close).size(), 1u);
}

TEST_F(Driver, RefusedSettingsOrTimeoutsCloseTheDeviceAgain) {
    w.os.refusedRates = {300};
    EXPECT_EQ(w.port.openPort("COM1", 300, false), 0);
    EXPECT_FALSE(w.port.portIsOpen());
    EXPECT_FALSE(w.os.isOpen());
    w.os.timeoutsRefused = true;
    EXPECT_EQ(w.port.openPort("COM1", 115200, false), 0);
    EXPECT_FALSE(w.os.isOpen());
}

TEST_F(Driver, SetBaudRateSettlesAndPulsesDtrFor2400ms) {
    openCom1();
    w.port.restartModule();
    const uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.setBaudRate(115200), 1);  // the same rate: still the full pulse
    EXPECT_EQ(w.clock.elapsed() - t0, 2400u);
    const auto dtr = w.os.eventsOf(K::Dtr);
    ASSERT_GE(dtr.size(), 2u);
    const auto& off = dtr[dtr.size() - 2];
    const auto& on = dtr.back();
    EXPECT_FALSE(off.on);
    EXPECT_EQ(off.atMs - t0, 1500u);
    EXPECT_TRUE(on.on);
    EXPECT_EQ(on.atMs - t0, 1900u);
    EXPECT_EQ(w.port.portLineSettings().dtrOn, true);  // the pulse leaves the mode
}

TEST_F(Driver, SetBaudRateToARateTheDeviceReplacesFailsAtOnce) {
    openCom1();
    w.os.substitutes = {{123456, 38400}};
    const uint32_t t0 = w.clock.elapsed();
    const size_t dtrEdges = w.os.eventsOf(K::Dtr).size();
    EXPECT_EQ(w.port.setBaudRate(123456), 0);
    EXPECT_EQ(w.clock.elapsed(), t0);
    EXPECT_EQ(w.os.eventsOf(K::Dtr).size(), dtrEdges);
    EXPECT_EQ(w.port.portLineSettings().rate, 38400u);  // the record follows the device

    w.os.refusedRates = {250000};
    EXPECT_EQ(w.port.setBaudRate(250000), 0);
    EXPECT_EQ(w.clock.elapsed(), t0);
}

TEST_F(Driver, RestartAndCtsWaits) {
    openCom1();  // DTR low: the module is down and CTS off
    uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.waitForCts(0, 1000), 1);
    EXPECT_EQ(w.clock.elapsed() - t0, 500u);  // a level already there still settles
    EXPECT_EQ(w.port.waitForCts(7, 20), 0);   // no such level: times out

    t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.restartModule(), 1);
    EXPECT_EQ(w.clock.elapsed() - t0, 500u);
    const auto dtr = w.os.eventsOf(K::Dtr);
    ASSERT_EQ(dtr.size(), 1u);  // DTR was already low after the RS-232 open
    EXPECT_TRUE(dtr[0].on);
    EXPECT_EQ(dtr[0].atMs - t0, 100u);

    w.os.modemStatusFails = true;  // unreadable modem status ends the CTS wait at once
    t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.restartModule(), 0);
    EXPECT_EQ(w.clock.elapsed() - t0, 400u);
}

TEST(DriverCts, RestartWithoutCtsGivesUpAfterAbout15400ms) {
    sim::ModuleConfig slow;
    slow.bootMs = 60000;  // CTS never comes within the wait
    VirtualWorld w(slow);
    ASSERT_EQ(w.port.openPort("COM1", 115200, false), 1);
    const uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.restartModule(), 0);
    const uint32_t took = w.clock.elapsed() - t0;
    EXPECT_GT(took, 15400u);
    EXPECT_LE(took, 15402u);
}

TEST_F(Driver, TimedReadTakesAWaitingByteAtOnceAndMakesOneAttemptWithZeroTimeout) {
    openCom1();
    uint8_t b = 0;
    const uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.readByteTimed(&b, 0), 0);
    EXPECT_EQ(w.clock.elapsed() - t0, 5u);  // exactly one 5 ms attempt

    w.module.sendRaw({0x42}, w.clock.nowMs(), 115200);
    const uint32_t t1 = w.clock.elapsed();
    EXPECT_EQ(w.port.readByteTimed(&b, 20000), 1);
    EXPECT_EQ(b, 0x42);
    EXPECT_EQ(w.clock.elapsed(), t1);
}

TEST_F(Driver, TimedReadAcrossTheClockWrapLastsItsFullLength) {
    VirtualWorld wrap(fastBoot(), 0xFFFFFF00u);  // 256 ms before the counter wraps
    ASSERT_EQ(wrap.port.openPort("COM1", 115200, false), 1);
    uint8_t b = 0;
    EXPECT_EQ(wrap.port.readByteTimed(&b, 1000), 0);
    EXPECT_GE(wrap.clock.elapsed(), 1000u);
    EXPECT_LE(wrap.clock.elapsed(), 1005u);
}

TEST_F(Driver, CheckedReadDropsBytesWithLineErrors) {
    openCom1();
    uint8_t b = 0;
    // Bytes sent at another rate arrive garbled and flagged; the clean one after them counts.
    w.module.sendRaw({'A', 'B', 'C'}, w.clock.nowMs(), 57600);
    w.module.sendRaw({'D'}, w.clock.nowMs() + 20, 115200);
    EXPECT_EQ(w.port.readByteChecked(&b, 1000), 1);
    EXPECT_EQ(b, 'D');

    // The unchecked read hands over what came, errors and all.
    w.module.sendRaw({'E'}, w.clock.nowMs(), 57600);
    EXPECT_EQ(w.port.readByteTimed(&b, 1000), 1);
    EXPECT_NE(b, 'E');

    // Nothing clean within the limit: 0 after the full wait.
    w.module.sendRaw({'F', 'G'}, w.clock.nowMs(), 57600);
    const uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.readByteChecked(&b, 300), 0);
    EXPECT_GE(w.clock.elapsed() - t0, 300u);

    // A failing error query leaves the attempt as it was.
    w.os.lineErrorQueryFails = true;
    w.module.sendRaw({'H'}, w.clock.nowMs(), 57600);
    EXPECT_EQ(w.port.readByteChecked(&b, 100), 1);
}

TEST_F(Driver, ClosedPortFailsEverythingWithoutTouchingTheDevice) {
    uint8_t b = 0;
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(w.port.writeBytes(bytes, 3), 0);
    EXPECT_EQ(w.port.setBaudRate(115200), 0);
    EXPECT_EQ(w.port.purgePort(), 0);
    EXPECT_EQ(w.port.waitForCts(1, 100), 0);
    EXPECT_EQ(w.port.readByteNow(&b), 0);
    uint32_t t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.restartModule(), 0);
    EXPECT_EQ(w.clock.elapsed() - t0, 400u);  // the restart still takes its waits
    t0 = w.clock.elapsed();
    EXPECT_EQ(w.port.readByteTimed(&b, 250), 0);  // keeps trying until its limit
    EXPECT_GE(w.clock.elapsed() - t0, 250u);
    w.port.closePort();
    w.port.closePort();
    EXPECT_TRUE(w.os.events.empty());
}

TEST_F(Driver, WriteOfZeroBytesWritesNothing) {
    openCom1();
    const uint8_t bytes[] = {9};
    EXPECT_EQ(w.port.writeBytes(bytes, 0), 0);
    EXPECT_TRUE(w.os.eventsOf(K::Write).empty());
    EXPECT_EQ(w.port.writeBytes(bytes, 1), 1);
    w.port.closePort();
    w.port.closePort();
    EXPECT_EQ(w.os.eventsOf(K::Close).size(), 1u);
}

}  // namespace
}  // namespace kestrel::test
