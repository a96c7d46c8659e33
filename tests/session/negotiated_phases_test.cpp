// The negotiated entry and the hand-back on their own, with the port as the driver has it
// there (open at the operator's rate): what the entry learns from "AT+IPR?" (untrusted: long,
// zero-laden or noisy replies) and when it moves the module; which hand-back runs and the
// rate restoration with its attempts; and the journal that keeps a moved rate across a crash.
#include <gtest/gtest.h>

#include <map>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using M = sim::ModuleConfig;
constexpr int32_t kEntry = -2;

// The entry (kEntry) or the hand-back with the module's `originalRate`, against a module as
// `config` says; the dialogue and the time from after the set-up's open.
struct Phase {
    Phase(sim::ModuleConfig config, int32_t originalRate = kEntry, bool blockUpdate = false,
          bool usb = false)
        : w(std::move(config)), s(phaseSession(w, 115200, usb)) {
        s.blockUpdateMode = blockUpdate;
        EXPECT_EQ(w.port.openPort("COM1", 115200, usb), 1);
        startMs = w.clock.elapsed();
        if (originalRate == kEntry) {
            entry = enterDownloadMode(s);
        } else {
            s.originalRate = originalRate;
            done = completeSession(s);
        }
        dialogue = transcript(w.os);
        dialogue.erase(dialogue.begin(), dialogue.begin() + 2);
        tookMs = w.clock.elapsed() - startMs;
    }
    Texts tail(size_t n) const {
        return Texts(dialogue.end() - static_cast<long>(n), dialogue.end());
    }
    VirtualWorld w;
    Session s;
    EntryResult entry{};
    bool done = false;
    uint32_t startMs;
    Texts dialogue;
    uint32_t tookMs;
};

sim::ModuleConfig reporting(const std::string& info, uint32_t pauseMs = 0) {
    sim::ModuleConfig c = firmwareModule(115200);
    c.iprInfo = info;
    c.pauseInInfoMs = pauseMs;
    return c;
}

TEST(OriginalRate, NumberIsConvertedLikeTheRateFieldOrStaysUnknownWithoutAnInformationLine) {
    constexpr int32_t kNone = INT32_MIN;  // no information line: unknown (-1), nothing shown
    const std::pair<sim::ModuleConfig, int32_t> cases[] = {
        // Blank lines before it are skipped by the leading-noise strip.
        {having(&M::blankLinesBeforeInfo, 2), 115200},
        {reporting(" +IPR: 57600"), 57600},    // spaces are line noise too
        {reporting("+IPR: 0"), 0},             // autobaud, restored like any rate
        {reporting("+IPR:  +38400x"), 38400},  // converted like the rate field
        {reporting("+IPR: " + std::string(300, '9')), 2147483647},   // past the buffer: clamped
        {reporting("+IPR: 57" + std::string(1, '\0') + "600"), 57},  // a zero byte ends the text
        {reporting("+IPR: -1"), -1},  // reported, so shown, though it reads as unknown
        // The reply is cut by the pause: "\r\n+IPR: 57" is stripped down to the line.
        {reporting("+IPR: 57", 100), 57},
        {reporting("+IPR:57600"), kNone},
        {reporting("+ipr: 57600"), kNone},
        {reporting("IPR: 57600"), kNone},
        // "\r\n+IPR: 5" (9 characters, cut by the pause) loses only its CR: the strip stops at 8.
        {reporting("+IPR: 5", 100), kNone},
        {having(&M::refusedCommands, Texts{"AT+IPR?"}), kNone},
        {with({},
              [](auto& c) {
                  c.replyFor = {{"AT+IPR?", std::string(1000, '\x7f')}};
              }),
         kNone},
    };
    for (const auto& [config, rate] : cases) {
        Phase e(config);
        SCOPED_TRACE(escaped(config.iprInfo));
        EXPECT_EQ(e.s.originalRate, rate == kNone ? -1 : rate);
        EXPECT_EQ(
            e.w.host.texts(),
            rate == kNone ? Texts{} : Texts{"INFO: original baudrate = " + std::to_string(rate)});
        EXPECT_EQ(e.entry, EntryResult::Entered);
    }
}

TEST(ModuleMove, SameRateMeansNoMoveOnlyAPurgeBeforeTheDownloadCommand) {
    Phase e(firmwareModule(115200));
    EXPECT_EQ(e.tail(2), (Texts{"> AT+IPR?\\r", "> AT^SFDL\\r"}));
    // The purge comes right after the query's reply, 50 ms before the download command.
    const auto& ev = e.w.os.events;
    size_t purge = 0;
    for (size_t i = 0; i < ev.size(); ++i)
        if (ev[i].kind == Event::Kind::Purge) purge = i;
    EXPECT_EQ(ev[purge].atMs, writesOf(e.w.os, "AT^SFDL\r").at(0).atMs - kBeforeSendMs);
    EXPECT_EQ(ev.at(purge + 1).text, "AT^SFDL\r");
}

TEST(ModuleMove, FailedMoveIsNotNoticedAndTheDownloadCommandStillGoes) {
    Phase e(with(firmwareModule(57600), [](auto& c) { c.refusedCommands = {"AT+IPR=115200"}; }));
    EXPECT_EQ(e.tail(4),
              (Texts{"> AT+IPR?\\r", "> AT+IPR=115200\\r", "rate 115200", "> AT^SFDL\\r"}));
    // The module stayed at 57600 and hears the command as noise.
    EXPECT_EQ(e.entry, EntryResult::Failed);
    EXPECT_EQ(e.w.host.lastStatus(), "ERROR: Cannot send download command.");
    EXPECT_EQ(e.s.originalRate, 57600);
}

// Each attempt: close, 1000 ms, open, then two silent passes (a restart and six switches and
// probes each), or the module found at once and `original` restored.
const uint32_t kAttemptMs = 1000 + 2 * kRestartMs + 12 * kSlotMs;
Texts attempts(int fruitless, int32_t original = -1) {
    std::string pass = "|restart";
    for (uint32_t r : {115200, 460800, 230400, 57600, 38400, 19200})
        pass += "|rate " + std::to_string(r) + "|" + kProbe;
    std::string all;
    for (int i = 0; i < fruitless; ++i)
        all += "|close|open COM1|rate 115200" + pass + pass;
    if (original != -1) {
        const std::string rate = std::to_string(original);
        all += "|close|open COM1|rate 115200|restart|rate 115200|" + std::string(kProbe) +
               "|> AT+IPR=" + rate + "\\r|rate " + rate + "|> AT^SMSO\\r";
    }
    return split(all.substr(1));
}

TEST(Restoration, RestoresTheRateFromWhereTheModuleIsFoundAndSwitchesItOff) {
    const std::pair<uint32_t, int32_t> cases[] = {{115200, 57600}, {115200, 0}, {57600, 9600}};
    for (const auto& [moduleRate, original] : cases) {
        SCOPED_TRACE(original);
        const Phase h(firmwareModule(moduleRate), original);
        EXPECT_TRUE(h.done);
        const std::string restore = "AT+IPR=" + std::to_string(original) + "\r";
        EXPECT_EQ(writesOf(h.w.os, restore).at(0).rate, moduleRate);
        EXPECT_EQ(writesOf(h.w.os, "AT^SMSO\r").at(0).rate, static_cast<uint32_t>(original));
        // A module away from the operator's rate is searched for, then found and confirmed.
        std::string search = "close|open COM1|rate 115200|restart";
        for (uint32_t r : {115200, 460800, 230400, 57600, 115200})
            search += "|rate " + std::to_string(r) + "|" + kProbe;
        EXPECT_EQ(h.dialogue, moduleRate == 115200 ? attempts(0, original)
                                                   : split(search + "|rate 57600|> AT+IPR=9600\\r|"
                                                                    "rate 9600|> AT^SMSO\\r"));
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_TRUE(h.w.module.switchedOff());
        // The port stays open at the original rate for the session's own clean-up.
        EXPECT_TRUE(h.w.os.isOpen());
        EXPECT_EQ(h.w.os.rate(), static_cast<uint32_t>(original));
    }
}

TEST(Restoration, FiveAttemptsWithoutAnAnswerFail) {
    const Phase h(having(&M::silent, true), 57600);
    EXPECT_FALSE(h.done);
    EXPECT_EQ(h.dialogue, attempts(5));
    EXPECT_EQ(h.w.host.texts(),
              Texts{"ERROR: cannot enter AT command mode change back to original baudrate."});
    EXPECT_EQ(h.tookMs, 5 * kAttemptMs);
}

TEST(Choice, NothingToDoWhenTheRateIsUnknownOrUnchangedOrTheLinkIsUsb) {
    struct Case {
        int32_t original;
        bool blockUpdate, usb;
    } cases[] = {
        {-1, false, false}, {115200, false, false}, {57600, false, true}, {57600, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original + c.usb);
        const Phase h(firmwareModule(115200), c.original, c.blockUpdate, c.usb);
        EXPECT_TRUE(h.done);
        EXPECT_TRUE(h.dialogue.empty());
        EXPECT_TRUE(h.w.host.statuses.empty());
        EXPECT_EQ(h.tookMs, 0u);
    }
}

// The rate journal: written before the module's rate is moved, trusted after a crash only when
// the module answers at the moved rate, forgotten once the hand-back gave the rate back.
constexpr int64_t kNow = 1800000000;
const RateJournalEntry kHourOld{57600, 115200, kNow - 3600};  // moved from 57600 to 115200

// A journal in memory whose saves are stamped with the virtual time.
struct MemoryJournal final : RateJournal {
    explicit MemoryJournal(VirtualClock& c) : clock(c) {}
    Load load(const char* port, RateJournalEntry* entry) override {
        if (damaged) return Load::Damaged;
        auto it = entries.find(port);
        if (it == entries.end()) return Load::None;
        *entry = it->second;
        return Load::Found;
    }
    bool save(const char* port, const RateJournalEntry& entry) override {
        entries[port] = entry;
        savedAtMs.push_back(clock.elapsed());
        return true;
    }
    void remove(const char* port) override {
        entries.erase(port);
        damaged = false;
    }
    int64_t nowSeconds() override { return kNow; }

    VirtualClock& clock;
    std::map<std::string, RateJournalEntry> entries;
    std::vector<uint32_t> savedAtMs;
    bool damaged = false;
};

// An update of a module at `moduleRate`, with `entry` journalled for COM1 (if given).
struct JournalRun : UpdateRun {
    JournalRun(uint32_t moduleRate, const RateJournalEntry* entry = nullptr, bool damaged = false,
               const char* rate = "115200")
        : UpdateRun(makeRecords(2), firmwareModule(moduleRate), false), journal(w.clock) {
        w.journal = &journal;
        if (entry) journal.entries["COM1"] = *entry;
        journal.damaged = damaged;
        copyText(w.host.fields.rateText, rate);
        run();
        EXPECT_EQ(w.host.lastStatus(), "Download succeeded.");
        EXPECT_TRUE(journal.entries.empty()) << "the journal is forgotten at the end";
    }
    size_t restores() const { return writesOf(w.os, "AT+IPR=57600\r").size(); }
    MemoryJournal journal;
};

TEST(RateJournal, WrittenBeforeTheMoveAndForgottenAfterTheRateIsBack) {
    const JournalRun r(57600);
    ASSERT_EQ(r.journal.savedAtMs.size(), 1u);
    const auto move = writesOf(r.w.os, "AT+IPR=115200\r");
    ASSERT_FALSE(move.empty());
    EXPECT_LE(r.journal.savedAtMs[0], move[0].atMs);
}

TEST(RateJournal, AfterACrashTheJournalledOriginalIsRestored) {
    // The module was moved to 115200 by a session that died; it reports 115200 as its own.
    const JournalRun r(115200, &kHourOld);
    EXPECT_TRUE(r.w.host.showed("INFO: original baudrate = 115200"));
    EXPECT_TRUE(
        r.w.host.showed("INFO: original baudrate = 57600 (remembered from an interrupted update)"));
    EXPECT_EQ(r.restores(), 1u);
    EXPECT_TRUE(r.w.module.switchedOff());
    // The operator asks for the module's own rate this time: the move itself restores it,
    // and no hand-back follows that would clear the entry.
    const JournalRun back(115200, &kHourOld, false, "57600");
    EXPECT_EQ(back.restores(), 1u);
    EXPECT_TRUE(back.journal.savedAtMs.empty());
}

TEST(RateJournal, DoubtfulJournalsAreIgnoredWithAWarningAndDropped) {
    const std::pair<RateJournalEntry, const char*> cases[] = {
        {{57600, 115200, kNow - 8 * 24 * 3600}, "older than a week"},
        {{57600, 230400, kNow}, "the module answers at another rate"},
        {{57600, 115200, kNow + 3600}, "older than a week"},  // from the future
        {{}, "damaged"},
    };
    for (const auto& [entry, why] : cases) {
        SCOPED_TRACE(why);
        const JournalRun r(115200, &entry, entry.originalRate == -1);
        EXPECT_TRUE(r.w.host.showed(std::string("WARNING: rate journal of an earlier update "
                                                "ignored (") +
                                    why + ")."));
        EXPECT_EQ(r.restores(), 0u);
    }
}

}  // namespace
}  // namespace kestrel::test
