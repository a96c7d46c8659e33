// The transcript for support: its text for AT and block traffic in virtual time (through the
// tap, which leaves the device's results as they were), the ring's bound, the file written as
// the session goes, and saving with only the newest few kept.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "platform/state_dir.h"
#include "serial/transcript_store.h"
#include "serial/transcript_tap.h"
#include "support/virtual_clock.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

// A device whose every call returns `ok` (a write: `taken`, -1 for all) and which delivers
// `input`.
struct ScriptedOs final : SerialOs {
    bool ok = true;
    int64_t taken = -1;
    std::deque<uint8_t> input;

    bool open(const char*, SystemError*) override { return ok; }
    bool applySettings(const LineSettings&) override { return ok; }
    bool readRate(uint32_t* rate) override { return *rate = 57600, ok; }
    bool applyTimeouts() override { return ok; }
    bool setDtr(bool) override { return ok; }
    bool readCts(bool* on) override { return *on = true, ok; }
    bool purge() override { return ok; }
    bool dropInput() override { return ok; }
    bool bytesWaiting(uint32_t* count) override { return *count = 7, ok; }
    bool takeLineErrors(bool* any) override { return *any = true, ok; }
    bool readByte(uint8_t* byte, bool* got) override {
        *got = ok && !input.empty();
        if (*got) *byte = input.front(), input.pop_front();
        return ok;
    }
    uint32_t write(const uint8_t*, uint32_t count) override {
        return taken < 0 ? count : uint32_t(taken);
    }
    void close() override {}
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

struct TranscriptTest : testing::Test {
    fs::path dir =
        fs::temp_directory_path() / ("kestrel-transcript-" + std::to_string(currentProcessId()));
    VirtualClock clock{5000};
    ScriptedOs os;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string text(const Transcript& t) {
        const fs::path path = dir / "ring.txt";
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        EXPECT_TRUE(t.writeRing(f));
        std::fclose(f);
        return readFile(path);
    }
    uint32_t write(TranscriptTap& tap, const std::string& bytes) {
        return tap.write(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    }
    // Reads `bytes`, `gapMs` apart.
    void read(TranscriptTap& tap, const std::string& bytes, uint32_t gapMs = 1) {
        os.input.assign(bytes.begin(), bytes.end());
        uint8_t b = 0;
        bool got = false;
        while (tap.readByte(&b, &got) && got)
            clock.advance(gapMs);
    }
};

TEST_F(TranscriptTest, AtAndBlockTrafficWithTimesAndBlockNumbers) {
    Transcript t(clock);
    TranscriptTap tap(os, t);
    clock.advance(12);
    // The device's results reach the caller as they were, here and when it fails below.
    EXPECT_TRUE(tap.open("/dev/ttyUSB0", nullptr) &&
                tap.applySettings(makeLineSettings(115200, false)) &&
                tap.applyTimeouts() &&  // accepted: nothing to tell
                tap.purge());
    read(tap, std::string(85, 'x'), 0);  // a read line holds 80 bytes at most
    t.noteProgress();                    // the bar is set before the entry: no block follows yet
    clock.advance(1333);
    write(tap, "AT+IPR?\r");
    read(tap, "\r\n+IPR: 57600\r\nOK");
    clock.advance(20);  // a pause ends a line
    read(tap, "\r\n");
    bool cts = false;
    for (int i = 0; i < 3; ++i)
        tap.readCts(&cts);  // only a change is shown
    t.noteStatus("INFO: \\\\.\\COM5 \x07");
    clock.advance(1500000);
    write(tap, std::string("\x03\x5c\xff\x00", 4));
    read(tap, "\x02");  // again: the same block goes out once more
    write(tap, std::string("\x03\x5c\xff\x00", 4));
    read(tap, "\x04\x01");
    t.noteProgress();
    t.noteProgress();
    write(tap, "\x01\x41");
    read(tap, "\x01\x01");  // a second answer to block 1
    os.ok = false;
    uint8_t b = 0;
    bool got = false;
    uint32_t rate = 0;
    EXPECT_EQ((std::vector<bool>{tap.readByte(&b, &got), tap.readByte(&b, &got),
                                 tap.readByte(&b, &got), tap.setDtr(false), tap.readRate(&rate)}),
              std::vector<bool>(5, false));
    os.taken = 2;
    EXPECT_EQ(write(tap, "AT\\\x80\r"), 2u);
    t.noteOutcome("transfer failed at block 1");
    tap.close();
    EXPECT_EQ(
        text(t),
        ("     0.012 open /dev/ttyUSB0\n     0.012 rate 115200, DTR off\n     0.012 purge\n"
         "     0.012 R " +
         std::string(80, 'x') +
         "\n     0.012 R xxxxx\n"
         "     1.345 W AT+IPR?\\r\n     1.345 R \\r\\n\n     1.347 R +IPR: 57600\\r\\n\n"
         "     1.360 R OK\n     1.382 R \\r\\n\n     1.384 CTS on\n"
         "     1.384 status INFO: \\\\.\\COM5 \\x07\n"
         "  1501.384 W block 0: 03 5c ff 00 (4 bytes)\n"
         "  1501.384 R block 0 answer 0x02\n  1501.385 W block 0: 03 5c ff 00 (4 bytes)\n"
         "  1501.385 R block 0 answer 0x04\n  1501.386 R block 0 answer 0x01\n"
         "  1501.387 W block 1: 01 41 (2 bytes)\n  1501.387 R block 1 answer 0x01\n"
         "  1501.388 R block 1 answer 0x01\n  1501.389 read failed\n  1501.389 DTR off failed\n"
         "  1501.389 rate cannot be read back\n"
         "  1501.389 W AT\\\\\\x80\\r (wrote 2 of 5)\n"
         "  1501.389 outcome transfer failed at block 1\n  1501.389 close\n"));
    EXPECT_EQ(t.droppedEvents(), 0u);
}

// The ring keeps as many of the newest events as its bound holds, whole, and says how many
// older ones it left out.
TEST_F(TranscriptTest, RingKeepsTheNewestWholeEventsWithinItsBound) {
    constexpr size_t kRing = 4096, kHeader = 16;
    // 48: the events fill it exactly.
    for (const auto& [payload, events] :
         {std::pair<size_t, size_t>{9, 500}, {73, 100}, {48, 100}, {9, 100}}) {
        SCOPED_TRACE(payload);
        Transcript t(clock, kRing);
        TranscriptTap tap(os, t);
        const size_t dropped = events - std::min(events, kRing / (kHeader + payload));
        std::string expected;
        if (dropped > 0)
            expected = "(" + std::to_string(dropped) +
                       " earlier events dropped to keep the transcript small)\n";
        for (size_t i = 0; i < events; ++i) {
            char bytes[128];
            std::snprintf(bytes, sizeof bytes, "AT%05d%0*d", int(i), int(payload - 7), 0);
            write(tap, bytes);
            if (i >= dropped) expected += std::string("     0.000 W ") + bytes + "\n";
        }
        EXPECT_EQ(text(t), expected);
        EXPECT_EQ(t.droppedEvents(), dropped);
    }
}

TEST_F(TranscriptTest, StreamWritesEveryLineAsItHappensAfterWhatCameBefore) {
    const fs::path path = dir / "session.log";
    const std::string head =
        "     0.000 open COM1\n     0.000 R noise\n     0.005 W AT\\r\n     0.005 R OK\\r\\n\n"
        "     0.009 status Waiting for start signal.\n";
    {
        Transcript t(clock, 4096);
        TranscriptTap tap(os, t);
        tap.open("COM1", nullptr);
        read(tap, "noise");  // a read line still open goes first, whole
        SystemError why;
        ASSERT_TRUE(t.streamTo(path.string().c_str(), &why));
        write(tap, "AT\r");
        read(tap, "OK\r\n");
        t.noteStatus("Waiting for start signal.");
        // Flushed at once: a crash from here loses nothing.
        EXPECT_EQ(readFile(path), head);
        for (int i = 0; i < 300; ++i)
            write(tap, "AT+CSQ\r");  // the file is not bounded
        read(tap, "+CSQ");           // ended by the end of the session
    }
    std::string all = head;
    for (int i = 0; i < 300; ++i)
        all += "     0.009 W AT+CSQ\\r\n";
    EXPECT_EQ(readFile(path), all + "     0.009 R +CSQ\n");

    Transcript t(clock);
    SystemError why;
    const std::string missing = (dir / "no-such-folder" / "x.log").string();
    EXPECT_FALSE(t.streamTo(missing.c_str(), &why));
    EXPECT_NE(why.code, 0);
    EXPECT_EQ(std::string(why.path), missing);
}

// A failed session's ring goes to a new file named after the port and the time; only the
// newest files of that form stay, and nothing else in the folder is touched.
TEST_F(TranscriptTest, SavedRingsKeepOnlyTheNewestFew) {
    const auto now = fs::file_time_type::clock::now();
    std::set<std::string> expected = {"notes.txt", "kestrel-ttyS0.txt", "rate-journal.log",
                                      "kestrel-folder.log", "ring.txt"};
    for (int i = 0; i < 12; ++i) {
        const std::string old = "kestrel-ttyS0-2020010" + std::to_string(i % 9) + "-00000" +
                                std::to_string(i) + "-1.log";
        std::ofstream(dir / old) << "old";
        fs::last_write_time(dir / old, now - std::chrono::hours(100 - i));  // higher is newer
        if (i >= 4) expected.insert(old);
    }
    for (const char* other : {"notes.txt", "kestrel-ttyS0.txt", "rate-journal.log"})
        std::ofstream(dir / other) << "keep";
    fs::create_directories(dir / "kestrel-folder.log");

    Transcript t(clock);
    TranscriptTap tap(os, t);
    write(tap, "AT^SFDL\r");
    for (int i = 0; i < 2; ++i) {  // twice within the same second
        char path[512];
        SystemError why;
        ASSERT_TRUE(saveRing(t, "/dev/serial/by-id/usb-Mk A-if00", dir.string().c_str(), path,
                             sizeof path, &why, 10));
        const std::string name = fs::path(path).filename().string();
        EXPECT_TRUE(std::regex_match(
            name, std::regex(R"(kestrel-usb-Mk_A-if00-\d{8}-\d{6}-\d+(-2)?\.log)")))
            << path;
        EXPECT_EQ(readFile(path), text(t));
        expected.insert(name);
    }
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected);

    char path[512];
    SystemError why;
    EXPECT_FALSE(saveRing(t, "COM1", (dir / "missing").string().c_str(), path, sizeof path, &why));
    EXPECT_NE(why.code, 0);
}

}  // namespace
}  // namespace kestrel::test
