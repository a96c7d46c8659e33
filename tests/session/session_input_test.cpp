// What the operator typed, and what the session makes of it: rate texts, port names,
// missing images. Every way out closes port and image and gives START back.
#include <gtest/gtest.h>

#include <string>

#include "session/session_settings.h"
#include "session/session_test_util.h"
#include "session/update_session.h"

namespace kestrel::test {
namespace {

TEST(RateText, ConvertsLikeTheStandardDecimalConversionButClamps) {
    EXPECT_EQ(convertRateText("115200"), 115200);
    EXPECT_EQ(convertRateText("  \t57600"), 57600);
    EXPECT_EQ(convertRateText("+9600"), 9600);
    EXPECT_EQ(convertRateText("-300"), -300);
    EXPECT_EQ(convertRateText("115200 baud"), 115200);
    EXPECT_EQ(convertRateText("11x5200"), 11);
    EXPECT_EQ(convertRateText("abc"), 0);
    EXPECT_EQ(convertRateText(""), 0);
    EXPECT_EQ(convertRateText("-"), 0);
    EXPECT_EQ(convertRateText("99999999999999999999"), 2147483647);
    EXPECT_EQ(convertRateText("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(convertRateText("2147483648"), 2147483647);
}

TEST(PortName, OnlyLongComNamesGetTheDeviceNamespacePrefix) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"COM10", "\\\\.\\COM10"},
        {"COM12", "\\\\.\\COM12"},
        {"COM9", "COM9"},
        {"COM3", "COM3"},
        {"com12", "com12"},
        {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"", ""},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"COMX1", "\\\\.\\COMX1"},
    };
    for (const Case& c : cases) {
        char path[kDevicePathCapacity];
        normalizePortName(c.in, path);
        EXPECT_STREQ(path, c.out) << c.in;
    }
    // The longest field text still fits with its prefix.
    std::string longName = "COM" + std::string(256, '1');
    char path[kDevicePathCapacity];
    normalizePortName(longName.c_str(), path);
    EXPECT_EQ(std::string(path), "\\\\.\\" + longName);
}

TEST(PortName, Com12OpensUnderItsPrefixedNameAndLowerCaseIsRetriedByTheDriver) {
    const auto records = makeRecords(1);
    {
        VirtualWorld w(loaderModule(records));
        w.useImage(records);
        noFirmwareFields(w.host);
        copyText(w.host.fields.portName, "COM12");
        w.os.devices = {"\\\\.\\COM12"};
        runUpdateSession(w.host);
        EXPECT_EQ(w.os.eventsOf(Event::Kind::Open)[0].text, "\\\\.\\COM12");
        EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
    }
    {
        VirtualWorld w(loaderModule(records));
        w.useImage(records);
        noFirmwareFields(w.host);
        copyText(w.host.fields.portName, "com12");
        w.os.devices = {"\\\\.\\com12"};
        runUpdateSession(w.host);
        const auto failed = w.os.eventsOf(Event::Kind::OpenFailed);
        ASSERT_FALSE(failed.empty());
        EXPECT_EQ(failed[0].text, "com12");
        EXPECT_EQ(w.os.eventsOf(Event::Kind::Open)[0].text, "\\\\.\\com12");
    }
}

struct BadPort {
    std::string name;
    std::string rate;
};

class PortThatCannotOpen : public testing::TestWithParam<BadPort> {};

TEST_P(PortThatCannotOpen, EndsWithTheOpenErrorAndGivesStartBack) {
    VirtualWorld w(loaderModule({}));
    w.useImage({});
    noFirmwareFields(w.host);
    copyText(w.host.fields.portName, GetParam().name.c_str());
    copyText(w.host.fields.rateText, GetParam().rate.c_str());
    w.os.refusedRates = {0, 0xFFFFFFFFu, 0x80000000u};
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.texts(), (std::vector<std::string>{"", "ERROR: Cannot open COM-Port."}));
    EXPECT_EQ(w.host.startEnabled, 1);
    EXPECT_FALSE(w.os.isOpen());
    EXPECT_EQ(w.host.rangeMax, -1);  // the image was never touched
}

INSTANTIATE_TEST_SUITE_P(Names, PortThatCannotOpen,
                         testing::Values(BadPort{"", "115200"}, BadPort{"COM7", "115200"},
                                         BadPort{std::string(259, 'C'), "115200"},
                                         BadPort{"COM" + std::string(256, '9'), "115200"},
                                         BadPort{"COM1", "0"}, BadPort{"COM1", "abc"},
                                         BadPort{"COM1", "-1"}, BadPort{"COM1", "-2147483648"}));

TEST(Image, MissingOrShortProgramFileEndsWithTheImageErrorAndClosesThePort) {
    const std::vector<std::vector<uint8_t>> files = {
        {},                                 // empty file
        std::vector<uint8_t>(50000, 'x'),   // shorter than the search block
        std::vector<uint8_t>(120000, 'x'),  // long enough, no marker
    };
    for (const auto& bytes : files) {
        VirtualWorld w(loaderModule({}));
        const std::string path = writeTempFile(bytes);
        overrideOwnProgramPath(path.c_str());
        noFirmwareFields(w.host);
        runUpdateSession(w.host);
        EXPECT_EQ(w.host.lastStatus(), "ERROR: Cannot open Firmware-File.") << bytes.size();
        EXPECT_EQ(w.os.eventsOf(Event::Kind::Close).size(), 1u);
        EXPECT_FALSE(w.os.isOpen());
        EXPECT_EQ(w.host.startEnabled, 1);
        std::remove(path.c_str());
    }
    VirtualWorld w(loaderModule({}));
    overrideOwnProgramPath("/nonexistent/kestrel");
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.lastStatus(), "ERROR: Cannot open Firmware-File.");
}

TEST(Snapshot, FieldsAreReadOnceAtTheStart) {
    VirtualWorld w(loaderModule({}));
    w.useImage({});
    noFirmwareFields(w.host);
    runUpdateSession(w.host);
    EXPECT_EQ(w.host.fieldReads, 1);
    ASSERT_FALSE(w.host.statuses.empty());
    EXPECT_EQ(w.host.statuses[0].text, "");  // the status line is cleared first
}

}  // namespace
}  // namespace kestrel::test
