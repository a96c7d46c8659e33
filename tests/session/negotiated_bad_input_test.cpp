// Whole sessions against modules whose replies cannot be trusted: over-long and zero-laden
// information lines, noise at a wrong rate, a download command acknowledged out of reach.
// Nothing may overrun, and success is shown only when it happened.
#include <gtest/gtest.h>

#include "session/negotiated_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

struct SessionRun {
    explicit SessionRun(sim::ModuleConfig config, const std::vector<Record>& recs)
        : records(recs), w(withRecords(std::move(config), recs)) {
        w.useImage(records);
        negotiatedFields(w.host, "115200");
        runUpdateSession(w.host);
    }
    static sim::ModuleConfig withRecords(sim::ModuleConfig c, const std::vector<Record>& r) {
        c.expectedRecords = r;
        return c;
    }
    std::vector<Record> records;
    VirtualWorld w;
};

TEST(UntrustedReply, OverlongRateLineIsCutClampedAndStillRestored) {
    auto c = firmwareModule(115200);
    c.iprInfo = "+IPR: " + std::string(300, '9');
    SessionRun run(c, makeRecords(2));
    EXPECT_TRUE(run.w.host.showed("INFO: original baudrate = 2147483647"));
    EXPECT_EQ(writesOf(run.w.os, "AT+IPR=2147483647\r").size(), 1u);
    EXPECT_TRUE(run.w.module.imageComplete());
    EXPECT_EQ(run.w.host.lastStatus(), "Download succeeded.");
}

TEST(UntrustedReply, ZeroByteEndsTheRateLine) {
    auto c = firmwareModule(115200);
    c.iprInfo = std::string(
        "+IPR: 57\0"
        "600",
        12);
    SessionRun run(c, makeRecords(1));
    EXPECT_TRUE(run.w.host.showed("INFO: original baudrate = 57"));
    EXPECT_EQ(writesOf(run.w.os, "AT+IPR=57\r").size(), 1u);
}

TEST(UntrustedReply, DownloadAcknowledgedBeyondTheBufferIsAFailure) {
    auto c = firmwareModule(115200);
    c.replyFor = {{"AT^SFDL", "\r\n" + std::string(300, '#') + "\r\nOK\r\n"}};
    SessionRun run(c, makeRecords(2));
    EXPECT_EQ(run.w.host.lastStatus(), "ERROR: Cannot send download command.");
    EXPECT_FALSE(run.w.host.showed("Download succeeded."));
    EXPECT_EQ(run.w.module.stats().recordsAccepted, 0);
    EXPECT_EQ(run.w.host.startEnabled, 1);
    EXPECT_FALSE(run.w.os.isOpen());
}

TEST(UntrustedReply, ModuleOnlyEverHeardAsNoiseEndsWithoutSuccess) {
    // Fixed at a rate outside the list: every probe and the blind command are noise to it.
    SessionRun run(firmwareModule(9600), makeRecords(2));
    EXPECT_EQ(run.w.host.texts(),
              (std::vector<std::string>{
                  "", "WARNING: AT-Command-Mode not detected (trying fall back with 57600).",
                  "Waiting for start signal.", "ERROR: timout waiting for start character."}));
    EXPECT_EQ(run.w.module.stats().recordsAccepted, 0);
    EXPECT_EQ(run.w.host.startEnabled, 1);
    EXPECT_FALSE(run.w.os.isOpen());
}

TEST(UntrustedReply, NoiseAnsweringEveryCommandAfterDetectionIsNoSuccess) {
    // Detected, then every later reply is a flood without the marker.
    auto c = firmwareModule(115200);
    const std::string flood(1000, '\x7f');
    c.replyFor = {{"AT+IPR?", flood}, {"AT^SFDL", flood}};
    SessionRun run(c, makeRecords(1));
    EXPECT_FALSE(run.w.host.showed("Download succeeded."));
    EXPECT_EQ(run.w.host.lastStatus(), "ERROR: Cannot send download command.");
    for (const auto& s : run.w.host.statuses)
        EXPECT_EQ(s.text.rfind("INFO:", 0), std::string::npos) << s.text;
}

}  // namespace
}  // namespace kestrel::test
