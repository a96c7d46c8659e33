// kestrel-cli's command line and its terminal front end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/terminal_host.h"
#include "support/virtual_clock.h"

namespace kestrel {
namespace {

CliCommand parse(std::vector<const char*> args, SessionFields* fields, std::string* error) {
    args.insert(args.begin(), "kestrel-cli");
    char text[kTextCapacity];
    const CliCommand c = parseCliArgs(static_cast<int>(args.size()), args.data(), fields, text);
    *error = text;
    return c;
}

TEST(CliArgs, FieldsAsTheWindowWouldHoldThem) {
    SessionFields f;
    std::string error;
    ASSERT_EQ(parse({"--port", "/dev/ttyUSB0"}, &f, &error), CliCommand::Run) << error;
    EXPECT_STREQ(f.portName, "/dev/ttyUSB0");
    EXPECT_STREQ(f.rateText, "115200");
    EXPECT_FALSE(f.usb);
    EXPECT_FALSE(f.noFirmware);
    EXPECT_STREQ(f.firmwareName, "");

    ASSERT_EQ(parse({"--rate", "57600", "--port=COM3", "--usb", "--no-firmware", "--firmware-name",
                     "update.UUSF"},
                    &f, &error),
              CliCommand::Run);
    EXPECT_STREQ(f.rateText, "57600");
    EXPECT_STREQ(f.portName, "COM3");
    EXPECT_TRUE(f.usb);
    EXPECT_TRUE(f.noFirmware);
    EXPECT_STREQ(f.firmwareName, "update.UUSF");

    // Long texts are cut like the window's fields.
    const std::string longName(400, 'p');
    ASSERT_EQ(parse({"--port", longName.c_str()}, &f, &error), CliCommand::Run);
    EXPECT_EQ(std::string(f.portName), longName.substr(0, 259));
}

TEST(CliArgs, UsageErrors) {
    SessionFields f;
    std::string error;
    EXPECT_EQ(parse({}, &f, &error), CliCommand::UsageError);
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_EQ(parse({"--port"}, &f, &error), CliCommand::UsageError);
    EXPECT_EQ(parse({"--port", "x", "--speed", "9600"}, &f, &error), CliCommand::UsageError);
    EXPECT_NE(error.find("--speed"), std::string::npos);
    EXPECT_EQ(parse({"--port", "x", "extra"}, &f, &error), CliCommand::UsageError);
    EXPECT_EQ(parse({"--port", "x", "--usb=1"}, &f, &error), CliCommand::UsageError);
    EXPECT_EQ(parse({"--port", "x", "--help"}, &f, &error), CliCommand::Help);
    EXPECT_EQ(parse({"--version"}, &f, &error), CliCommand::Version);
    EXPECT_EQ(parse({"--image-info"}, &f, &error), CliCommand::ImageInfo);
    EXPECT_EQ(parse({"--check", "--port", "x"}, &f, &error), CliCommand::Check);
    EXPECT_EQ(parse({"--check"}, &f, &error), CliCommand::UsageError);
}

TEST(CliArgs, OnlyARateAModuleTakesWrittenAsAPlainNumber) {
    SessionFields f;
    std::string error;
    for (const char* rate : {"300", "9600", "57600", "115200", "921600"})
        EXPECT_EQ(parse({"--port", "x", "--rate", rate}, &f, &error), CliCommand::Run) << rate;
    for (const char* rate : {"1e6", "99999999999", "fast", "", " 9600", "9600 ", "+9600", "09600",
                             "-115200", "115200baud", "100000", "0"}) {
        EXPECT_EQ(parse({"--port", "x", "--rate", rate}, &f, &error), CliCommand::UsageError)
            << rate;
        EXPECT_NE(error.find(std::string("'") + rate + "'"), std::string::npos) << error;
    }
}

// What was written to `file` so far.
std::string textOf(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string s;
    for (int c; (c = std::fgetc(file)) != EOF;)
        s.push_back(static_cast<char>(c));
    return s;
}

class TerminalHostTest : public ::testing::Test {
  protected:
    ~TerminalHostTest() override {
        std::fclose(status);
        std::fclose(bar);
    }
    test::VirtualClock clock;
    SessionFields fields;
    FILE* status = std::tmpfile();
    FILE* bar = std::tmpfile();
};

TEST_F(TerminalHostTest, StatusLinesOnlyWhenNotATerminal) {
    TerminalHost host(fields, status, nullptr, clock);
    host.setStatus("");
    host.setProgressRange(300);
    host.setStatus("Waiting for start signal.");
    host.setProgressPosition(10);
    host.setStatus("Download succeeded.");
    host.setProgressPosition(300);
    host.enableStart();
    EXPECT_EQ(textOf(status), "Waiting for start signal.\nDownload succeeded.\n");
}

TEST_F(TerminalHostTest, BarIsClearedForEachStatusLineAndEndsWithALineEnd) {
    TerminalHost host(fields, status, bar, clock);
    host.setProgressRange(300);
    host.setStatus("Firmware download in progress.");
    host.setProgressPosition(10);  // the thirtieth shown from the first block
    for (int p = 11; p <= 300; ++p) {
        clock.advance(10);
        host.setProgressPosition(p);
    }
    host.enableStart();
    const std::string drawn = textOf(bar);
    EXPECT_NE(drawn.find("\r\033[K"), std::string::npos);  // cleared for the status line
    EXPECT_NE(drawn.find("[##############################] 100%  300/300 blocks  100 blk/s"),
              std::string::npos)
        << drawn;
    EXPECT_EQ(drawn.back(), '\n');
    EXPECT_EQ(textOf(status), "Firmware download in progress.\n");
}

TEST_F(TerminalHostTest, AfterAnErrorTheLastBarShowsWhereTheUpdateStopped) {
    TerminalHost host(fields, status, bar, clock);
    host.setProgressRange(300);
    host.setProgressPosition(120);
    host.setStatus("ERROR: Timout waiting fo response after block no.120");
    host.setProgressPosition(300);  // the session fills the bar after any transfer
    host.enableStart();
    const std::string drawn = textOf(bar);
    const size_t lastLine = drawn.rfind('\r');
    EXPECT_EQ(drawn.substr(lastLine + 1),
              "[############------------------]  40%  120/300 blocks  stopped\033[K\n");
}

TEST(ProgressLine, PercentBlocksThroughputAndTimeLeft) {
    char line[160];
    formatProgressLine(line, sizeof line, 1200, 35987, 0);
    EXPECT_STREQ(line,
                 "[#-----------------------------]   3%  1200/35987 blocks  -- blk/s  --:-- left");
    formatProgressLine(line, sizeof line, 17994, 35987, 4000);
    EXPECT_STREQ(
        line, "[###############---------------]  50%  17994/35987 blocks  4000 blk/s  0:04 left");
    formatProgressLine(line, sizeof line, 0, 35987, 5);
    EXPECT_NE(std::string(line).find("1:59:57 left"), std::string::npos) << line;
    formatProgressLine(line, sizeof line, 1200, 35987, 4000, true);
    EXPECT_STREQ(line, "[#-----------------------------]   3%  1200/35987 blocks  stopped");
}

}  // namespace
}  // namespace kestrel
