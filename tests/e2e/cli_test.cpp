// kestrel-cli's command line and its terminal front end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/console.h"
#include "cli/json_line.h"
#include "cli/port_hosts.h"
#include "cli/port_session.h"
#include "cli/terminal_host.h"
#include "cli/update_runner.h"
#include "support/virtual_clock.h"

namespace kestrel {
namespace {

// The command, then for a usage error its text, else the options that differ from the defaults.
std::string parsed(std::vector<const char*> args) {
    static const char* const kCommands[] = {"run",  "check",   "station",    "list",
                                            "help", "version", "image-info", "usage"};
    args.insert(args.begin(), "kestrel-cli");
    CliOptions o;
    char error[kTextCapacity];
    const CliCommand c = parseCliArgs(static_cast<int>(args.size()), args.data(), &o, error);
    std::string s = kCommands[static_cast<int>(c)];
    if (c == CliCommand::UsageError) return s + ": " + error;
    const SessionFields& f = o.fields;
    s += std::string(" port=") + f.portName + " rate=" + f.rateText + " ports=";
    for (const std::string& p : o.ports)
        s += p + ";";
    if (f.firmwareName[0] != '\0') s += std::string(" fw=") + f.firmwareName;
    if (f.usb) s += " usb";
    if (f.noFirmware) s += " no-firmware";
    if (o.json) s += " json";
    if (!o.logPath.empty()) s += " log=" + o.logPath;
    if (!o.station.empty()) s += " station=" + o.station;
    if (o.includePresent) s += " present";
    if (o.quietTimeMs != 10000) s += " quiet=" + std::to_string(o.quietTimeMs);
    return s;
}

// Each row: the arguments and what parsed() must contain (a usage error: the part that names
// what is wrong; otherwise all of it).
TEST(CliArgs, CommandsFieldsAndUsageErrors) {
    const std::string longName(400, 'p'), cut(259, 'p');
    const struct {
        std::vector<const char*> args;
        std::string expect;
    } rows[] = {
        {{"--port", "/dev/ttyUSB0"}, "run port=/dev/ttyUSB0 rate=115200 ports=/dev/ttyUSB0;"},
        {{"--rate", "57600", "--port=COM3", "--usb", "--no-firmware", "--firmware-name",
          "update.UUSF", "--port", "COM4", "--json", "--log", "run.log"},
         "run port=COM3 rate=57600 ports=COM3;COM4; fw=update.UUSF usb no-firmware json "
         "log=run.log"},
        {{"--port", longName.c_str()}, "run port=" + cut + " rate=115200 ports=" + cut + ";"},
        {{"--station", "/dev/serial/by-id/usb-*", "--include-present", "--quiet-time", "30"},
         "station port= rate=115200 ports= station=/dev/serial/by-id/usb-* present quiet=30000"},
        {{"--station", "/dev/x*", "--quiet-time", "3600"},
         "station port= rate=115200 ports= station=/dev/x* quiet=3600000"},
        {{"--station", "/dev/x*", "--quiet-time", "0"},
         "station port= rate=115200 ports= station=/dev/x* quiet=0"},
        {{"--check", "--port", "x", "--port", "y"}, "check port=x rate=115200 ports=x;y;"},
        {{"--list", "--json"}, "list port= rate=115200 ports= json"},
        {{"--port", "x", "--help"}, "help "},
        {{"--version"}, "version "},
        {{"--image-info"}, "image-info "},
        {{}, "usage: --port"},
        {{"--port"}, "usage: missing value for '--port'"},
        {{"--port", "x", "--speed", "9600"}, "usage: unknown argument '--speed'"},
        {{"--p", "x"}, "usage: unknown argument '--p'"},  // no abbreviations
        {{"--port", "x", "extra"}, "'extra'"},
        {{"--port", "x", "--usb=1"}, "'--usb=1'"},
        {{"--port", "x", "--port", "x"}, "twice"},
        {{"--port", ""}, "empty"},
        {{"--port", "x", "--station", "/dev/tty*"}, "usage: --station"},
        {{"--port", "x", "--include-present"}, "usage: --include-present and --quiet-time"},
        {{"--port", "x", "--quiet-time", "10"}, "usage: --include-present and --quiet-time"},
        {{"--station", "/dev/x*", "--quiet-time", "1e3"}, "'1e3'"},
        {{"--station", "/dev/x*", "--quiet-time", "3601"}, "'3601'"},
        {{"--list", "--port", "x"}, "usage: --list"},
        {{"--check", "--port", "x", "--json"}, "usage: --check"},
        {{"--check"}, "usage: --port"},
    };
    for (const auto& row : rows) {
        const std::string got = parsed(row.args);
        if (got.compare(0, 6, "usage:") == 0 || row.expect.back() == ' ')
            EXPECT_NE(got.find(row.expect), std::string::npos) << got;
        else
            EXPECT_EQ(got, row.expect);
    }
}

TEST(CliArgs, OnlyARateAModuleTakesWrittenAsAPlainNumber) {
    for (const char* rate : {"300", "9600", "57600", "115200", "921600"})
        EXPECT_EQ(parsed({"--port", "x", "--rate", rate}),
                  std::string("run port=x rate=") + rate + " ports=x;");
    for (const char* rate : {"1e6", "99999999999", "fast", "", " 9600", "9600 ", "+9600", "09600",
                             "-115200", "115200baud", "100000", "0"})
        EXPECT_EQ(parsed({"--port", "x", "--rate", rate}),
                  std::string("usage: not a rate a module takes (see --help): '") + rate + "'");
}

// Whether `text` holds each of `parts`, saying which it lacks.
testing::AssertionResult holds(const std::string& text, std::vector<std::string> parts) {
    for (const std::string& part : parts)
        if (text.find(part) == std::string::npos)
            return testing::AssertionFailure() << "no " << part << " in\n" << text;
    return testing::AssertionSuccess();
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

// Standard output, standard error and the terminal the progress is drawn on, as files.
struct FrontEnd : testing::Test {
    FrontEnd() { copyText(fields.portName, "/dev/ttyACM0"); }
    ~FrontEnd() override {
        for (FILE* f : {out, err, board})
            std::fclose(f);
    }
    test::VirtualClock clock;
    SessionFields fields;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    FILE* board = std::tmpfile();
};

// A clean run: the bar is cleared for each status line and ends with a line end. After an
// error the last bar shows where the update stopped, though the session fills it afterwards.
TEST_F(FrontEnd, BarIsClearedForStatusLinesAndStopsWhereAnErrorStoppedTheUpdate) {
    TerminalHost host(fields, out, board, clock);
    host.setProgressRange(300);
    host.setStatus("Firmware download in progress.");
    host.setProgressPosition(10);  // the thirtieth shown from the first block
    for (int p = 11; p <= 300; ++p) {
        clock.advance(10);
        host.setProgressPosition(p);
    }
    host.enableStart();
    const std::string clean = textOf(board);
    EXPECT_TRUE(holds(clean, {"\r\033[K",  // cleared for the status line
                              "[##############################] 100%  300/300 blocks  100 blk/s"}));
    EXPECT_EQ(clean.back(), '\n');
    EXPECT_EQ(textOf(out), "Firmware download in progress.\n");
    FILE* stopped = std::tmpfile();
    TerminalHost failed(fields, out, stopped, clock);
    failed.setProgressRange(300);
    failed.setProgressPosition(120);
    failed.setStatus("ERROR: Timout waiting fo response after block no.120");
    failed.setProgressPosition(300);
    failed.enableStart();
    const std::string drawn = textOf(stopped);
    std::fclose(stopped);
    EXPECT_EQ(drawn.substr(drawn.rfind('\r') + 1),
              "[############------------------]  40%  120/300 blocks  stopped\033[K\n");
}

// The stopped form: FrontEnd.BarIsClearedForStatusLinesAndStops...
TEST(ProgressLine, PercentBlocksThroughputAndTimeLeft) {
    char line[160];
    formatProgressLine(line, sizeof line, 1200, 35987, 0);
    EXPECT_STREQ(line,
                 "[#-----------------------------]   3%  1200/35987 blocks  -- blk/s  --:-- left");
    formatProgressLine(line, sizeof line, 17994, 35987, 4000);
    EXPECT_STREQ(
        line, "[###############---------------]  50%  17994/35987 blocks  4000 blk/s  0:04 left");
    formatProgressLine(line, sizeof line, 0, 35987, 5);
    EXPECT_TRUE(holds(line, {"1:59:57 left"}));
}

TEST(JsonString, EscapedWhateverTheBytes) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"plain", "\"plain\""},
        {"q\"b\\", "\"q\\\"b\\\\\""},
        {"\r\n\t\x01\x1b\x7f", "\"\\r\\n\\t\\u0001\\u001b\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1\""},
        {"\xe9t\xe9", "\"\\u00e9t\\u00e9\""},                      // Latin-1 bytes
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},                        // overlong '/'
        {"\xe0\x80\xaf", "\"\\u00e0\\u0080\\u00af\""},             // ... in three bytes
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},             // a surrogate
        {"\xe2\x82", "\"\\u00e2\\u0082\""},                        // cut at the end
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // above U+10FFFF
    };
    for (const auto& row : rows)
        EXPECT_EQ(jsonString(row.in), row.out) << row.in;
    EXPECT_EQ(JsonLine().add("a", 1).add("b", true).addNull("c").add("d", 0.5).finish(),
              "{\"a\":1,\"b\":true,\"c\":null,\"d\":0.500}\n");
}

TEST_F(FrontEnd, JsonEventsThrottleProgressAndStopAtAnError) {
    Console console(out, err, nullptr);
    JsonHost host(fields, console, clock, clock.nowMs());
    const uint64_t written = 4242;
    host.countBytesWith(&written);
    host.setStatus("");
    host.setProgressRange(1000);
    host.phaseChanged(SessionPhase::Transfer);
    host.setStatus("Firmware download in progress.");
    for (int p = 1; p <= 1000; ++p) {
        clock.advance(1);
        host.setProgressPosition(p);
    }
    host.setProgressPosition(1000);  // the session's own last call: no second event
    host.warning("Warning: unexpected end of file detected 3 / 40.");
    host.setProgressRange(10);
    host.setStatus("ERROR: too many retries in block 4.");
    host.setProgressPosition(10);  // the session fills the bar after any transfer
    const std::string text = textOf(out);
    size_t progress = 0;
    for (size_t at = text.find("\"progress\""); at != std::string::npos;
         at = text.find("\"progress\"", at + 1))
        ++progress;
    EXPECT_EQ(progress, 11u) << text;  // 1 at once, one per 100 ms, the last
    EXPECT_TRUE(holds(text, {"{\"v\":1,\"event\":\"phase\",\"port\":\"/dev/ttyACM0\",\"phase\":"
                             "\"transfer\",\"ms\":0}\n",
                             "\"event\":\"progress\",\"port\":\"/dev/ttyACM0\",\"blocks\":1000,"
                             "\"total\":1000,\"bytes\":4242,\"ms\":1000}",
                             "\"event\":\"warning\""}));
    EXPECT_EQ(text.find("\"blocks\":10,"), std::string::npos) << "progress after an error";
    EXPECT_EQ(text.find("\"text\":\"\""), std::string::npos) << "an empty status is no event";
    EXPECT_EQ(textOf(err), "");
}

TEST_F(FrontEnd, PrefixedLinesAndABoardOfRows) {
    Console console(out, err, board);
    PrefixedHost host(fields, console, clock);
    host.setProgressRange(2000);
    host.phaseChanged(SessionPhase::Transfer);
    host.setStatus("Firmware download in progress.");
    for (int p = 1; p <= 1000; ++p) {
        clock.advance(5);
        host.setProgressPosition(p);
    }
    host.setStatus("ERROR: Timout waiting fo response after block no.1000");
    host.setProgressPosition(2000);
    host.showResult("transfer failed");
    console.freezeBoard();
    console.outLine("after");
    EXPECT_EQ(textOf(out),
              "/dev/ttyACM0: Firmware download in progress.\n"
              "/dev/ttyACM0: ERROR: Timout waiting fo response after block no.1000\nafter\n");
    const std::string drawn = textOf(board);
    // Each redraw goes up over the rows it drew and clears below; the last row stays.
    EXPECT_TRUE(holds(
        drawn, {"\033[1A\r\033[J", "transfer      50%  1000/2000 blocks  200 blk/s  0:05 left"}));
    const size_t last = drawn.rfind("/dev/ttyACM0");
    EXPECT_EQ(drawn.substr(last), "/dev/ttyACM0  transfer failed  50%  1000/2000 blocks\033[K\n");
}

TEST(PortResults, EndEventSummaryAndLogNames) {
    PortResult r;
    r.port = "/dev/ttyUSB1";
    r.outcome.result = SessionResult::TransferFailed;
    r.outcome.blockFailure = BlockFailure::FatalAnswer;
    r.outcome.blockIndex = 5;
    r.outcome.answerByte = 0x15;
    r.outcome.reason.set(13, "/dev/ttyUSB1");
    r.outcome.recordsSent = 6;
    r.exitCode = 6;
    r.durationMs = 2711;
    r.failedStep = "transfer";
    EXPECT_TRUE(holds(
        endEventJson(r),
        {"\"event\":\"end\"", "\"result\":\"transfer-failed\",\"exit_code\":6",
         "\"step\":\"transfer\"", "\"block_failure\":\"fatal-answer\",\"block\":5,\"answer\":21",
         "\"reason\":{\"code\":13,\"path\":\"/dev/ttyUSB1\",\"text\":\"/dev/ttyUSB1: ",
         "\"duration_ms\":2711,\"transcript\":null"}));
    r.outcome.answerByte = 0x00;  // an answer of zero is an answer
    EXPECT_TRUE(holds(endEventJson(r), {"\"answer\":0,"}));

    PortResult ok;
    ok.port = "/dev/ttyUSB0";
    ok.durationMs = 17400;
    EXPECT_EQ(summaryTable({ok, r}),
              "PORT          RESULT                     EXIT  TIME\n"
              "/dev/ttyUSB0  succeeded                     0  17.4 s\n"
              "/dev/ttyUSB1  transfer failed               6  2.7 s");

    EXPECT_EQ(logPathFor("run.log", "/dev/ttyUSB0", false), "run.log");
    EXPECT_EQ(logPathFor("logs/run.log", "/dev/ttyUSB0", true), "logs/run.ttyUSB0.log");
    EXPECT_EQ(logPathFor("logs.d/run", "COM3", true), "logs.d/run.COM3");
    EXPECT_EQ(logPathFor("/tmp/.log", "/dev/serial/by-path/pci-0:1.0", true),
              "/tmp/.log.pci-0_1.0");
}

}  // namespace
}  // namespace kestrel
