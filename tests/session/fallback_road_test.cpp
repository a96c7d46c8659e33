// The fallback road: a module without firmware, restarted on DTR and sent the download
// command blind, then every record with the loader's answers.
#include <gtest/gtest.h>

#include "session/session_test_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

using K = Event::Kind;

TEST(FallbackRoad, BytesLinesAndWaitsInOrder) {
    const auto records = makeRecords(5, {16, 24, 8});
    VirtualWorld w(loaderModule(records));
    w.useImage(records);
    noFirmwareFields(w.host);

    runUpdateSession(w.host);

    // Open at the operator's rate with DTR off, then after the 1000 ms pause the blind entry:
    // close, 5000 ms, open at 57600, DTR low (already) then high 100 ms later, CTS, command.
    const auto& ev = w.os.events;
    ASSERT_GE(ev.size(), 8u);
    EXPECT_EQ(ev[0].kind, K::Open);
    EXPECT_EQ(ev[0].text, "COM1");
    EXPECT_EQ(ev[1].kind, K::Settings);
    EXPECT_EQ(ev[1].rate, 115200u);
    EXPECT_FALSE(ev[1].on);
    EXPECT_EQ(ev[2].kind, K::Purge);

    const auto closes = w.os.eventsOf(K::Close);
    ASSERT_GE(closes.size(), 2u);
    EXPECT_EQ(closes[0].atMs, 1000u);
    const auto opens = w.os.eventsOf(K::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].atMs, 6000u);
    const auto settings = w.os.eventsOf(K::Settings);
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[1].rate, 57600u);

    const auto dtr = w.os.eventsOf(K::Dtr);
    ASSERT_GE(dtr.size(), 2u);
    EXPECT_TRUE(dtr[0].on);
    EXPECT_EQ(dtr[0].atMs, 6100u);  // held low for the 100 ms of the restart

    const auto ws = writes(w.os);
    ASSERT_EQ(ws.size(), 1u + records.size());
    EXPECT_EQ(ws[0], "AT^SFDL\r");
    // 300 ms after DTR rises, CTS (up after the 200 ms boot) is seen and settled for 100 ms.
    EXPECT_EQ(w.os.eventsOf(K::Write)[0].atMs, 6500u);
    EXPECT_EQ(w.os.eventsOf(K::Write)[0].rate, 57600u);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(ws[i + 1], wire(records[i])) << i;

    EXPECT_TRUE(w.module.imageComplete());
    EXPECT_EQ(w.host.texts(),
              (std::vector<std::string>{
                  "", "Waiting for start signal.", "Firmware download in progress.",
                  "Download succeeded, finishing update process.", "Download succeeded."}));
    EXPECT_EQ(w.host.rangeMax, 5);
    EXPECT_EQ(w.host.positions.back(), 5);
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
    EXPECT_FALSE(w.os.dtr());  // closing drops DTR
}

TEST(FallbackRoad, EmptyImageStillWaitsForTheStartSignalAndSucceeds) {
    VirtualWorld w(loaderModule({}));
    w.useImage({});
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    EXPECT_EQ(writes(w.os), std::vector<std::string>{"AT^SFDL\r"});
    EXPECT_TRUE(w.host.showed("Waiting for start signal."));
    EXPECT_TRUE(w.host.showed("Download succeeded, finishing update process."));
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    EXPECT_EQ(w.host.rangeMax, 0);
}

TEST(FallbackRoad, PortThatDoesNotReopenAt57600StillEndsCleanly) {
    const auto records = makeRecords(2);
    VirtualWorld w(loaderModule(records));
    w.useImage(records);
    noFirmwareFields(w.host);
    w.os.refusedRates = {57600};  // the re-open at 57600 fails; nothing may reach a device
    runUpdateSession(w.host);
    EXPECT_EQ(writes(w.os).size(), 0u);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: timout waiting for start character.");
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
}

}  // namespace
}  // namespace kestrel::test
