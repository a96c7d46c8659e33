// What the operator typed, and what the session makes of it: rate texts, port names,
// missing images. Every way out closes port and image and gives START back.
#include <gtest/gtest.h>

#include <string>

#include "session/session_settings.h"
#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

TEST(RateText, ConvertsLikeTheStandardDecimalConversionButClamps) {
    const std::pair<const char*, int32_t> cases[] = {
        {"115200", 115200},
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
        {"2147483648", 2147483647},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convertRateText(c.first), c.second) << c.first;
}

TEST(PortName, OnlyLongComNamesGetTheDeviceNamespacePrefix) {
    const std::string longName = "COM" + std::string(256, '1');  // the longest field text
    const std::pair<std::string, std::string> cases[] = {
        {"COM10", "\\\\.\\COM10"},
        {"COM12", "\\\\.\\COM12"},
        {"COM9", "COM9"},
        {"COM3", "COM3"},
        {"com12", "com12"},
        {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"", ""},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"COMX1", "\\\\.\\COMX1"},
        {longName, "\\\\.\\" + longName},
    };
    for (const auto& c : cases) {
        char path[kDevicePathCapacity];
        normalizePortName(c.first.c_str(), path);
        EXPECT_EQ(std::string(path), c.second) << c.first;
    }
}

TEST(PortName, Com12OpensUnderItsPrefixedNameAndLowerCaseIsRetriedByTheDriver) {
    // The driver opens what the session made of the name, then retries in the device form.
    const std::vector<std::string> com12{"open \\\\.\\COM12"};
    const std::vector<std::string> lower{"open failed com12", "open \\\\.\\com12"};
    for (const auto& c : {std::make_pair("COM12", com12), std::make_pair("com12", lower)}) {
        UpdateRun r(makeRecords(1), loaderModule(), true);
        copyText(r.w.host.fields.portName, c.first);
        r.w.os.devices = {std::string("\\\\.\\") + c.first};
        r.run();
        const auto dialogue = r.dialogue();
        EXPECT_EQ(std::vector<std::string>(dialogue.begin(), dialogue.begin() + c.second.size()),
                  c.second);
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
    }
}

struct BadPort {
    std::string name;
    std::string rate;
};

class PortThatCannotOpen : public testing::TestWithParam<BadPort> {};

TEST_P(PortThatCannotOpen, EndsWithTheOpenErrorAndGivesStartBack) {
    UpdateRun r({}, loaderModule(), true);
    copyText(r.w.host.fields.portName, GetParam().name.c_str());
    copyText(r.w.host.fields.rateText, GetParam().rate.c_str());
    r.w.os.refusedRates = {0, 0xFFFFFFFFu, 0x80000000u};
    r.run();
    EXPECT_EQ(r.w.host.texts(), (std::vector<std::string>{"", "ERROR: Cannot open COM-Port."}));
    EXPECT_EQ(r.w.host.rangeMax, -1);  // the image was never touched
    r.expectReleased();
}

INSTANTIATE_TEST_SUITE_P(Names, PortThatCannotOpen,
                         testing::Values(BadPort{"", "115200"}, BadPort{"COM7", "115200"},
                                         BadPort{std::string(259, 'C'), "115200"},
                                         BadPort{"COM" + std::string(256, '9'), "115200"},
                                         BadPort{"COM1", "0"}, BadPort{"COM1", "abc"},
                                         BadPort{"COM1", "-1"}, BadPort{"COM1", "-2147483648"}));

TEST(Image, MissingOrShortProgramFileEndsWithTheImageErrorAndClosesThePort) {
    const std::string paths[] = {
        "/nonexistent/kestrel", writeTempFile({}),         // empty file
        writeTempFile(std::vector<uint8_t>(50000, 'x')),   // shorter than the search block
        writeTempFile(std::vector<uint8_t>(120000, 'x')),  // long enough, no marker
    };
    for (const std::string& path : paths) {
        UpdateRun r({}, loaderModule(), true);
        overrideOwnProgramPath(path.c_str());
        r.run();
        EXPECT_EQ(r.w.host.lastStatus(), "ERROR: Cannot open Firmware-File.") << path;
        EXPECT_EQ(r.w.os.eventsOf(Event::Kind::Close).size(), 1u);
        r.expectReleased();
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace kestrel::test
