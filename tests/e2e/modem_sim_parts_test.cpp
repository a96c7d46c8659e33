// The simulator's command line, its scripted loader answers and its reading of the image.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modem_sim/expected_image.h"
#include "modem_sim/sim_options.h"
#include "support/test_image.h"

namespace kestrel::sim {
namespace {

ParseOutcome parse(std::vector<std::string> args, SimOptions* o, std::string* error) {
    args.insert(args.begin(), "kestrel-modem-sim");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return parseSimOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(SimOptions, ModuleServingAndScriptedAnswers) {
    SimOptions o;
    std::string error;
    ASSERT_EQ(parse({"--link",      "/tmp/x/tty", "--once",         "--rate",
                     "57600",       "--no-echo",  "--usb",          "--usb-gone-ms",
                     "2500",        "--pace",     "--side-channel", "/tmp/x/s",
                     "--nak-every", "5:2",        "--busy-at",      "7:3",
                     "--fatal-at",  "20:0x15",    "--silent-at",    "30",
                     "--vanish-at", "40"},
                    &o, &error),
              ParseOutcome::Run)
        << error;
    EXPECT_EQ(o.link, "/tmp/x/tty");
    EXPECT_TRUE(o.once && o.pace && o.module.usb && !o.module.echo);
    EXPECT_EQ(o.sideChannel, "/tmp/x/s");
    EXPECT_EQ(o.module.rate, 57600u);
    EXPECT_EQ(o.module.usbGoneMs, 2500u);
    EXPECT_TRUE(o.module.firmwarePresent);
    EXPECT_EQ(o.module.answerDelayMs, 0u);
    const AnswerScript& a = o.module.answers;
    ASSERT_TRUE(a);
    EXPECT_EQ(a(0, 0).value, 0x01);
    // Block 4 is the 5th: refused twice, taken the third time.
    EXPECT_EQ(a(4, 0).value, 0x02);
    EXPECT_EQ(a(4, 1).value, 0x02);
    EXPECT_EQ(a(4, 2).value, 0x01);
    EXPECT_EQ(a(9, 0).value, 0x02);
    EXPECT_EQ(a(7, 0).busyBefore, 3);
    EXPECT_EQ(a(7, 0).value, 0x01);
    EXPECT_EQ(a(7, 1).busyBefore, 0);
    EXPECT_EQ(a(20, 0).value, 0x15);
    EXPECT_EQ(a(30, 0).kind, BlockAnswer::Kind::Silence);
    EXPECT_EQ(a(40, 0).kind, BlockAnswer::Kind::Vanish);
}

TEST(SimOptions, RefusesWhatItCannotMean) {
    SimOptions o;
    std::string error;
    EXPECT_EQ(parse({}, &o, &error), ParseOutcome::Error);  // no --link
    EXPECT_NE(error.find("--link"), std::string::npos);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--link", "l", "--rate"},
          {"--link", "l", "--rate", "12x"},
          {"--link", "l", "--nak-every", "0"},
          {"--link", "l", "--fatal-at", "4:0x01"},  // 0x01 is no fatal answer
          {"--link", "l", "--silent-at", "-1"},
          {"--link", "l", "--frobnicate"}}) {
        SimOptions fresh;
        EXPECT_EQ(parse(bad, &fresh, &error), ParseOutcome::Error) << bad.back();
    }
    EXPECT_EQ(parse({"--help"}, &o, &error), ParseOutcome::Help);
}

// The records loaded from a file holding `bytes`, or an empty list with `error` set.
std::vector<std::vector<uint8_t>> load(const std::vector<uint8_t>& bytes, std::string* error) {
    const std::string path = test::writeTempFile(bytes);
    std::vector<std::vector<uint8_t>> records;
    if (!loadExpectedRecords(path.c_str(), &records, error)) records.clear();
    std::remove(path.c_str());
    return records;
}

TEST(ExpectedImage, PlainRecordsOrWhatFollowsThePackedProgramsFirstMarkerButNoCutRecord) {
    const std::vector<uint8_t> records = {2, 0xAA, 0xBB, 0, 1, 0x00};
    const std::vector<std::vector<uint8_t>> expected = {{2, 0xAA, 0xBB}, {0}, {1, 0x00}};
    std::vector<uint8_t> packed = {0x7F, 'E', 'L', 'F', 0x00, 0x01, 0x02};  // a false start
    for (int i = 0; i < 256; ++i)
        packed.push_back(static_cast<uint8_t>(i));
    packed.insert(packed.end(), records.begin(), records.end());
    std::string error;
    EXPECT_EQ(load(records, &error), expected) << error;
    EXPECT_EQ(load(packed, &error), expected) << error;
    EXPECT_TRUE(load({3, 1, 2}, &error).empty());
    EXPECT_NE(error.find("record 0"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrel::sim
