// The rate journal: written before the module's rate is moved, trusted after a crash only when
// the module answers at the moved rate, forgotten once the hand-back gave the rate back.
#include <gtest/gtest.h>

#include <map>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

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
