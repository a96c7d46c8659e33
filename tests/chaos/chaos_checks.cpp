#include <algorithm>
#include <cctype>
#include <cstdio>

#include "chaos/chaos_world.h"
#include "session/status_texts.h"

namespace kestrel::test {

namespace {

// Worst cases of the waits, in ms. A timed read overruns its limit by at most one 5 ms read.
constexpr uint64_t kRead = 5;
constexpr uint64_t kRateSwitch = 1500 + 400 + 500;
constexpr uint64_t kRestart = 100 + 300 + 15000 + 100;
constexpr uint64_t kProbe = 200 + kRead;
// The first send waits out its 5000 ms and a last 10 ms poll; the second gets a reply.
constexpr uint64_t kAtCommand = 2 * (50 + 5000 + 10 + kRead) + 50 + kRead;
// Two passes of a restart and up to seven switches and probes, then the confirmation.
constexpr uint64_t kDetection =
    2 * (kRestart + 7 * (kRateSwitch + kProbe)) + kRateSwitch + kProbe + kRateSwitch;
constexpr uint64_t kFallbackEntry = 5000 + kRestart;
constexpr uint64_t kUsbReopen = 2000 + 80 * 100;
constexpr uint64_t kStartWait = 20000 + kRead;
constexpr uint64_t kAnswerWait = 5000 + kRead;
constexpr uint64_t kBlockUpdateFinish = 1000 + kRestart + 5000;
constexpr uint64_t kRateRestoration =
    5 * (1000 + kDetection) + kAtCommand + kRateSwitch + 1000 + kAtCommand;
constexpr char kStartWarning[] = "WARNING: invalid start acknowledgement";
constexpr char kStartError[] = "ERROR: invalid start acknowledgement";

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

int countStarting(const RecordingHost& host, const char* prefix) {
    return static_cast<int>(
        std::count_if(host.statuses.begin(), host.statuses.end(),
                      [prefix](const auto& s) { return startsWith(s.text, prefix); }));
}

bool namesBlockUpdate(const std::string& name) {
    return name.size() > 5 && std::equal(name.end() - 5, name.end(), ".uusf", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// How many of the module's bytes the session read (`only`: those equal to it).
uint64_t bytesRead(const FakeSerialOs& os, const char* only = nullptr) {
    const auto read = os.eventsOf(Event::Kind::ModuleByte);
    return std::count_if(read.begin(), read.end(),
                         [only](const Event& e) { return only == nullptr || e.text == only; });
}

// The longest stretch of equal items next to each other.
template <typename T>
int longestRun(const std::vector<T>& items) {
    int run = 0, longest = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        run = i > 0 && items[i] == items[i - 1] ? run + 1 : 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// The writes that are records, as the records' bytes. Equal records next to each other (empty
// ones) cannot be told apart on the line, so their sends count together: the bound on sends
// of one record in a row scales by the longest such stretch of the image.
std::vector<Record> recordWrites(const ChaosWorld& cw) {
    const auto& records = cw.plan.records();
    std::vector<Record> out;
    for (const Event& e : cw.w.os.eventsOf(Event::Kind::Write)) {
        const Record bytes(e.text.begin(), e.text.end());
        if (std::find(records.begin(), records.end(), bytes) != records.end()) out.push_back(bytes);
    }
    return out;
}

const char* moduleState(const sim::ModuleModel& m) {
    if (m.vanished()) return "gone";
    if (m.inLoader()) return "in its loader";
    return m.switchedOff() ? "switched off" : "not in its loader";
}

}  // namespace

uint64_t transferBoundMs(const ChaosWorld& cw) {
    // One wait for each send, one more for each 0x04 heard, and after a start taken on the try
    // limit one for a late last answer.
    const uint64_t waits = static_cast<uint64_t>(cw.outcome.recordsSent) +
                           bytesRead(cw.w.os, "\x04") +
                           (countStarting(cw.w.host, kStartError) > 0 ? 1 : 0);
    return waits * kAnswerWait + bytesRead(cw.w.os) * kRead;
}

uint64_t sessionBoundMs(const ChaosWorld& cw) {
    const SessionResult result = cw.outcome.result;
    const sim::ChaosOperator& op = cw.plan.op;
    const RecordingHost& host = cw.w.host;
    uint64_t bound = bytesRead(cw.w.os) * kRead;
    if (result == SessionResult::PortNotOpened || result == SessionResult::ImageUnreadable)
        return bound;

    bound += 1000;  // after the progress range is set
    if (op.noFirmware) {
        bound += kFallbackEntry;
    } else {
        bound += kDetection + kAtCommand + (op.usb ? 0 : 2 * kAtCommand + kRateSwitch);
        if (host.showed(status::kNotDetected)) bound += kFallbackEntry;
    }
    if (result == SessionResult::DownloadModeNotEntered) return bound;
    if (op.usb && !op.noFirmware) bound += kUsbReopen;
    if (result == SessionResult::UsbPortNotReopened) return bound;
    // Every wait for the start signal but the last ends in a warning.
    bound += (countStarting(host, kStartWarning) + 1) * kStartWait;
    if (result == SessionResult::NoStartSignal) return bound;

    bound += transferBoundMs(cw);
    if (!op.usb && namesBlockUpdate(op.firmwareName))
        bound += kBlockUpdateFinish;
    else if (!op.usb && countStarting(host, "INFO: original baudrate = ") > 0)
        bound += kRateRestoration;
    return bound;
}

std::vector<std::string> brokenInvariants(const ChaosWorld& cw) {
    const RecordingHost& host = cw.w.host;
    const auto& st = host.statuses;
    const auto succeeded = std::count_if(
        st.begin(), st.end(), [](const auto& s) { return s.text == status::kSucceeded; });
    // The start wait gives up at its 19th byte, or 22nd after the blind entry.
    const bool blind = cw.plan.op.noFirmware || host.showed(status::kNotDetected);
    std::vector<std::string> broken;
    auto expect = [&broken](bool holds, const char* what) {
        if (!holds) broken.push_back(what);
    };
    expect(host.startEnabled == 1, "START not given back exactly once");
    expect(!cw.w.os.isOpen() && !cw.port.portIsOpen(), "port left open");
    expect(!cw.w.image->imageIsOpen(), "image left open");
    expect(cw.lock.acquired == 1 && cw.lock.released == 1 && !cw.lock.held,
           "port not claimed and released exactly once");
    expect(cw.opensWithoutClaim == 0, "port opened without the claim");

    expect(succeeded <= 1, "\"Download succeeded.\" shown more than once");
    // After a start taken on the try limit no answer can show whether the loader was ready for
    // the first block (docs/reliability.md): the image is judged after a start byte only.
    const bool startSeen = countStarting(host, kStartError) == 0;
    expect(!startSeen || cw.claimsWithoutImage == 0,
           "\"Download succeeded.\" but the module did not take exactly the image");
    expect(succeeded == 0 || host.showed(status::kTransferDone),
           "\"Download succeeded.\" but the module did not take exactly the image");
    expect(cw.outcome.succeeded() == (succeeded == 1), "outcome and status disagree");
    expect(succeeded == 0 || host.lastStatus() == status::kSucceeded,
           "\"Download succeeded.\" is not the last status");
    expect(longestRun(recordWrites(cw)) <= 11 * longestRun(cw.plan.records()),
           "a record sent more than 11 times in a row");
    expect(countStarting(host, kStartWarning) < (blind ? 22 : 19),
           "the start wait went past its try limit");

    expect(cw.w.clock.elapsed() <= sessionBoundMs(cw),
           "the session took longer than its waits allow");
    expect(cw.outcome.transferMs <= transferBoundMs(cw),
           "the transfer took longer than its waits allow");
    // The start wait, from its status to the first status after its warnings.
    const uint64_t readMs = bytesRead(cw.w.os) * kRead;
    for (size_t i = 0; i < st.size(); ++i) {
        if (st[i].text != status::kWaitingForStart) continue;
        size_t end = i + 1;
        while (end < st.size() && (startsWith(st[end].text, "WARNING: invalid start") ||
                                   startsWith(st[end].text, "ERROR: invalid start")))
            ++end;
        // In 32 bits, as the clock runs: the wait may span its wrap.
        const uint32_t waited =
            (end < st.size() ? st[end].atMs : cw.w.clock.start() + cw.w.clock.elapsed()) -
            st[i].atMs;
        expect(waited <= (end - i) * kStartWait + readMs,
               "the start wait took longer than its waits allow");
    }
    for (const auto& s : st)
        expect(s.text.size() < kTextCapacity && s.text.find('\n') == std::string::npos,
               "status not one line of at most 259 characters");
    for (int32_t position : host.positions)
        expect(position >= 0 && position <= host.rangeMax, "progress outside its range");
    return broken;
}

std::string sessionReport(const ChaosWorld& cw, bool trace) {
    static const char* const kKinds[] = {"open", "open failed", "close", "settings",
                                         "dtr",  "purge",       "write", "module"};
    std::string out;
    char line[512];
    for (size_t i = 0; trace && i < cw.w.os.events.size(); ++i) {
        const Event& e = cw.w.os.events[i];
        std::snprintf(line, sizeof line, "  %9u ms  %s", e.atMs, kKinds[static_cast<int>(e.kind)]);
        out += line;
        if (e.kind == Event::Kind::Settings || e.kind == Event::Kind::Dtr)
            out += " rate " + std::to_string(e.rate) + " dtr " + std::to_string(e.on);
        for (unsigned char c : e.text) {
            std::snprintf(line, sizeof line, c >= 0x20 && c < 0x7F ? " %c" : " %02x", c);
            out += line;
        }
        out += "\n";
    }
    const SessionOutcome& o = cw.outcome;
    const sim::ModuleStats& st = cw.w.module.stats();
    std::snprintf(line, sizeof line,
                  "  outcome: %s (block failure %d at block %d, answer %d, %d sends), %u ms of "
                  "%llu allowed\n  module: %s, %zu of %zu records accepted, %d mismatched, %d "
                  "resends asked, %d restarts\n",
                  describeResult(o.result), static_cast<int>(o.blockFailure), o.blockIndex,
                  o.answerByte, o.recordsSent, cw.w.clock.elapsed(),
                  static_cast<unsigned long long>(sessionBoundMs(cw)), moduleState(cw.w.module),
                  st.accepted.size(), cw.plan.records().size(), st.mismatchedRecords,
                  st.resendsRequested, st.restarts);
    out += "  plan: " + cw.plan.describe() + "\n" + line;
    for (const auto& s : cw.w.host.statuses) {
        std::snprintf(line, sizeof line, "  %9u ms  %s\n", s.atMs - cw.w.clock.start(),
                      s.text.c_str());
        out += line;
    }
    return out;
}

}  // namespace kestrel::test
