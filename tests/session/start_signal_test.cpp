// The wait for the loader's start signal: try limits, texts, timeout and line errors.
#include <gtest/gtest.h>

#include "session/session_test_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

std::string warning(int byte, int tryNo, const char* level = "WARNING") {
    char text[128];
    std::snprintf(text, sizeof text, "%s: invalid start acknowledgement (0x%02x) received (Try %d)",
                  level, byte, tryNo);
    return text;
}

int countWarnings(const RecordingHost& host) {
    int n = 0;
    for (const auto& s : host.statuses)
        if (s.text.rfind("WARNING: invalid start", 0) == 0) ++n;
    return n;
}

TEST(StartSignal, FallbackAcceptsTwentyOneWrongBytesBeforeTheStart) {
    const auto records = makeRecords(2);
    auto config = loaderModule(records);
    config.startPreamble.assign(21, 0x5A);
    VirtualWorld w(config);
    w.useImage(records);
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    EXPECT_EQ(countWarnings(w.host), 21);
    EXPECT_TRUE(w.host.showed(warning(0x5a, 21)));
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    EXPECT_TRUE(w.module.imageComplete());
}

TEST(StartSignal, FallbackLimitIs22AndTheTransferBeginsAnyway) {
    const auto records = makeRecords(3);
    auto config = loaderModule(records);
    config.startPreamble.assign(22, 0xFE);
    config.sendStartByte = false;  // the loader is ready without ever sending 0x01
    VirtualWorld w(config);
    w.useImage(records);
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    EXPECT_EQ(countWarnings(w.host), 21);
    EXPECT_TRUE(w.host.showed(warning(0xfe, 22, "ERROR")));
    EXPECT_FALSE(w.host.showed(warning(0xfe, 22)));
    // The ERROR text does not end the session: every record still goes out.
    EXPECT_TRUE(w.module.imageComplete());
    EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
}

TEST(StartSignal, NegotiatedEntryLimitIs19) {
    const auto records = makeRecords(2);
    sim::ModuleConfig config;  // working firmware at 115200
    config.expectedRecords = records;
    config.startPreamble.assign(19, 0x00);
    config.sendStartByte = false;
    VirtualWorld w(config);
    w.useImage(records);
    copyText(w.host.fields.rateText, "115200");
    runUpdateSession(w.host);
    EXPECT_EQ(countWarnings(w.host), 18);
    EXPECT_TRUE(w.host.showed(warning(0x00, 19, "ERROR")));
    EXPECT_TRUE(w.module.imageComplete());
}

TEST(StartSignal, NoByteWithin20sEndsTheSessionWithoutTransferOrHandBack) {
    const auto records = makeRecords(2);
    auto config = loaderModule(records);
    config.sendStartByte = false;
    VirtualWorld w(config);
    w.useImage(records);
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    ASSERT_GE(w.host.statuses.size(), 2u);
    const auto& waiting = w.host.statuses[w.host.statuses.size() - 2];
    const auto& timeout = w.host.statuses.back();
    EXPECT_EQ(waiting.text, "Waiting for start signal.");
    EXPECT_EQ(timeout.text, "ERROR: timout waiting for start character.");
    const uint32_t waited = timeout.atMs - waiting.atMs;
    EXPECT_GE(waited, 20000u);
    EXPECT_LE(waited, 20010u);
    EXPECT_EQ(writes(w.os).size(), 1u);  // only the download command
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
    // The bar keeps its last position after a failure before the transfer.
    EXPECT_EQ(w.host.positions.back(), 0);
}

TEST(StartSignal, BytesWithLineErrorsAreDroppedOnRs232) {
    const auto records = makeRecords(1);
    auto config = loaderModule(records);
    config.startPreamble.assign(3, 0x01);  // three start bytes, garbled by line errors
    VirtualWorld w(config);
    w.useImage(records);
    noFirmwareFields(w.host);
    w.os.lineErrorsOnNextReads = 3;
    runUpdateSession(w.host);
    // The three flagged bytes never count as tries; the clean 0x01 after them starts.
    EXPECT_EQ(countWarnings(w.host), 0);
    EXPECT_TRUE(w.module.imageComplete());
}

}  // namespace
}  // namespace kestrel::test
