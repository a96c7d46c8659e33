// The rate journal: written before the module's rate is moved, trusted after a crash only when
// the module answers at the moved rate, forgotten once the hand-back gave the rate back.
#include <gtest/gtest.h>

#include <map>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

using Texts = std::vector<std::string>;

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
    int64_t nowSeconds() override { return 1800000000; }

    VirtualClock& clock;
    std::map<std::string, RateJournalEntry> entries;
    std::vector<uint32_t> savedAtMs;
    bool damaged = false;
};

struct JournalRun : UpdateRun {
    explicit JournalRun(uint32_t moduleRate)
        : UpdateRun(makeRecords(2), firmwareModule(moduleRate), false), journal(w.clock) {
        w.journal = &journal;
    }
    MemoryJournal journal;
};

TEST(RateJournal, WrittenBeforeTheMoveAndForgottenAfterTheRateIsBack) {
    JournalRun r(57600);
    r.run();
    ASSERT_EQ(r.journal.savedAtMs.size(), 1u);
    const auto move = writesOf(r.w.os, "AT+IPR=115200\r");
    ASSERT_FALSE(move.empty());
    EXPECT_LE(r.journal.savedAtMs[0], move[0].atMs);
    EXPECT_TRUE(r.journal.entries.empty()) << "a completed hand-back forgets the move";
    EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
}

TEST(RateJournal, AfterACrashTheJournalledOriginalIsRestored) {
    // The module was moved to 115200 by a session that died; it reports 115200 as its own.
    JournalRun r(115200);
    r.journal.entries["COM1"] = {57600, 115200, 1800000000 - 3600};
    r.run();
    EXPECT_TRUE(r.w.host.showed("INFO: original baudrate = 115200"));
    EXPECT_TRUE(
        r.w.host.showed("INFO: original baudrate = 57600 (remembered from an interrupted update)"));
    EXPECT_FALSE(writesOf(r.w.os, "AT+IPR=57600\r").empty());
    EXPECT_TRUE(r.w.module.switchedOff());
    EXPECT_TRUE(r.journal.entries.empty());
    EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
}

TEST(RateJournal, AMoveBackToTheJournalledOriginalClearsTheJournal) {
    // The operator asks for the module's own rate this time: the move itself restores it,
    // and no hand-back follows that would clear the entry.
    JournalRun r(115200);
    copyText(r.w.host.fields.rateText, "57600");
    r.journal.entries["COM1"] = {57600, 115200, 1800000000 - 3600};
    r.run();
    EXPECT_FALSE(writesOf(r.w.os, "AT+IPR=57600\r").empty());
    EXPECT_TRUE(r.journal.savedAtMs.empty());
    EXPECT_TRUE(r.journal.entries.empty());
    EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
}

TEST(RateJournal, DoubtfulJournalsAreIgnoredWithAWarningAndDropped) {
    struct Case {
        RateJournalEntry entry;
        bool damaged;
        const char* why;
    };
    const Case cases[] = {
        {{57600, 115200, 1800000000 - 8 * 24 * 3600}, false, "older than a week"},
        {{57600, 230400, 1800000000}, false, "the module answers at another rate"},
        {{57600, 115200, 1800000000 + 3600}, false, "older than a week"},  // from the future
        {{}, true, "damaged"},
    };
    for (const Case& c : cases) {
        JournalRun r(115200);
        r.journal.entries["COM1"] = c.entry;
        r.journal.damaged = c.damaged;
        r.run();
        EXPECT_TRUE(r.w.host.showed(std::string("WARNING: rate journal of an earlier update "
                                                "ignored (") +
                                    c.why + ")."))
            << c.why;
        EXPECT_TRUE(writesOf(r.w.os, "AT+IPR=57600\r").empty()) << c.why;
        EXPECT_TRUE(r.journal.entries.empty()) << c.why;
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.") << c.why;
    }
}

}  // namespace
}  // namespace kestrel::test
