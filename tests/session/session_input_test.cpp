// What the operator typed, and what the session makes of it: rate texts, port names,
// missing images. Every way out closes port and image and gives START back.
#include <gtest/gtest.h>

#include <string>

#include "serial/com_port_name.h"
#include "session/session_settings.h"
#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

TEST(RateText, ConvertsLikeTheStandardDecimalConversionButClamps) {
    const std::pair<const char*, int32_t> cases[] = {{"115200", 115200},
                                                     {"  \t57600", 57600},
                                                     {"+9600", 9600},
                                                     {"-300", -300},
                                                     {"115200 baud", 115200},
                                                     {"11x5200", 11},
                                                     {"abc", 0},
                                                     {"", 0},
                                                     {"-", 0},
                                                     {"99999999999999999999", 2147483647},
                                                     {"-99999999999999999999", -2147483647 - 1},
                                                     {"2147483648", 2147483647}};
    for (const auto& c : cases)
        EXPECT_EQ(convertRateText(c.first), c.second) << c.first;
}

TEST(PortName, WindowsOpensLongComNamesInTheDeviceNamespaceThenRetriesPrefixed) {
    const std::string longName = "COM" + std::string(256, '1');  // the longest field text
    const std::string p = "\\\\.\\";
    const std::pair<std::string, std::string> cases[] = {{"COM10", p + "COM10"},
                                                         {"COM12", p + "COM12"},
                                                         {"COM9", "COM9"},
                                                         {"COM3", "COM3"},
                                                         {"com12", "com12"},
                                                         {p + "COM3", p + "COM3"},
                                                         {"", ""},
                                                         {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                                                         {"COMX1", p + "COMX1"},
                                                         {longName, p + longName}};
    for (const auto& c : cases) {
        char first[kComPathCapacity];
        char second[kComPathCapacity];
        ASSERT_TRUE(comPortPaths(c.first.c_str(), first, second)) << c.first;
        EXPECT_EQ(std::string(first), c.second) << c.first;
        EXPECT_EQ(std::string(second), p + c.second) << c.first;
    }
}

TEST(PortThatCannotOpen, EndsWithTheOpenErrorAndGivesStartBack) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "115200"},  {"COM7", "115200"}, {std::string(259, 'C'), "115200"},
        {"COM1", "abc"}, {"COM1", "-1"},  // rates 0 and 0xFFFFFFFF, which the device refuses
    };
    for (const auto& c : cases) {
        UpdateRun r({}, loaderModule(), true);
        copyText(r.w.host.fields.portName, c.first.c_str());
        copyText(r.w.host.fields.rateText, c.second);
        r.w.os.refusedRates = {0, 0xFFFFFFFFu};
        r.run();
        EXPECT_EQ(r.w.host.texts(), (std::vector<std::string>{"", "ERROR: Cannot open COM-Port."}))
            << c.first << " " << c.second;
        EXPECT_EQ(r.w.host.rangeMax, -1);  // the image was never touched
        EXPECT_EQ(r.outcome.result, SessionResult::PortNotOpened);
        r.expectReleased();
    }
}

// A cut image is refused before anything is sent: no restart, no blind entry.
TEST(Image, MissingMarkerlessOrCutProgramFileEndsWithTheImageErrorBeforeAnythingIsSent) {
    const TestImageFile cut(makeRecords(4), 99744, {40, 1, 2, 3});  // 40 bytes, 3 present
    const std::string markerless = writeTempFile(std::vector<uint8_t>(120000, 'x'));
    for (const std::string& path : {std::string("/nonexistent/kestrel"), markerless, cut.path()}) {
        UpdateRun r({}, loaderModule(), true);
        r.w.image = std::make_unique<FirmwareImage>(path.c_str());
        testing::internal::CaptureStdout();
        r.run();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  path == cut.path() ? "Warning: unexpected end of file detected 3 / 40.\n" : "");
        EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot open Firmware-File.") << path;
        EXPECT_EQ(r.outcome.result, SessionResult::ImageUnreadable);
        EXPECT_STREQ(r.outcome.reason.path, path.c_str());
        EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Open).size(), 1u);
        EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Close).size(), 1u);
        EXPECT_TRUE(writes(r.w.os).empty());
        r.expectReleased();
    }
    std::remove(markerless.c_str());
}

}  // namespace
}  // namespace kestrel::test
