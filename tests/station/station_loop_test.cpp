// The station's loop against a scripted watcher and launcher: each new module is launched
// once, each end reported with its time, and a stop lets the running updates finish. And which
// appearing port is a new unit: the module's own port coming back during its update, or after
// it under any name, is never flashed again; a new module in a used slot is.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "station/station_loop.h"
#include "station/unit_tracker.h"
#include "support/virtual_clock.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

struct Round {
    uint32_t afterMs;                               // time the wait takes
    std::vector<std::pair<std::string, int>> ends;  // updates that end meanwhile
    std::vector<PortEvent> events;
    bool stop = false;  // a stop asked for meanwhile
    bool fail = false;  // the watch fails
};

struct Fixture : UnitLauncher, StationReport, IdentityLookup, PortWatcher {
    // Launcher.
    void launch(const std::string& port) override {
        EXPECT_TRUE(running.insert(port).second) << port << " launched twice at once";
        lines.push_back("launch " + port);
    }
    bool takeEnded(std::string* port, int* exitCode) override {
        if (ended.empty()) return false;
        std::tie(*port, *exitCode) = ended.front();
        ended.pop_front();
        return true;
    }
    void waitAll() override {
        for (const std::string& port : running)
            ended.push_back({port, codeAtStop});
        running.clear();
    }
    // Report.
    void unitStarted(const std::string& port) override { lines.push_back("start " + port); }
    void unitEnded(const std::string& port, int code, uint32_t ms) override {
        lines.push_back("end " + port + " " + std::to_string(code) + " " + std::to_string(ms));
    }
    void stationEnded(int passed, int failed) override {
        lines.push_back("totals " + std::to_string(passed) + " " + std::to_string(failed));
    }
    // Identities.
    PortIdentity identityOf(const std::string& port) override { return identities[port]; }
    // Watcher.
    const std::vector<std::string>& present() const override { return presentPorts; }
    bool wait(uint32_t timeoutMs, std::vector<PortEvent>* events, SystemError* why) override {
        EXPECT_GT(timeoutMs, 0u);
        if (next == rounds.size()) {
            ADD_FAILURE() << "waited past the script";
            loop->requestStop();
            return true;
        }
        const Round& r = rounds[next++];
        clock.advance(r.afterMs);
        for (const auto& end : r.ends) {
            EXPECT_EQ(running.erase(end.first), 1u) << end.first << " was not running";
            ended.push_back(end);
        }
        if (r.stop) loop->requestStop();
        if (r.fail) {
            why->set(ENOSPC, "/dev/serial/by-id");
            return false;
        }
        events->insert(events->end(), r.events.begin(), r.events.end());
        return true;
    }
    void wake() override { ++wakes; }

    bool run(TrackerOptions options) {
        StationLoop station(*this, *this, *this, *this, clock, options);
        loop = &station;
        const bool ok = station.run(&totals, &why);
        EXPECT_TRUE(running.empty()) << "updates left running";
        EXPECT_EQ(next, rounds.size()) << "script not played to its end";
        return ok;
    }

    VirtualClock clock{0};
    StationLoop* loop = nullptr;
    std::vector<std::string> presentPorts;
    std::map<std::string, PortIdentity> identities;
    std::vector<Round> rounds;
    size_t next = 0;
    int wakes = 0;
    std::set<std::string> running;
    std::deque<std::pair<std::string, int>> ended;
    int codeAtStop = 130;
    Lines lines;
    StationTotals totals;
    SystemError why;
};

const auto in = [](const char* port) { return PortEvent{PortEvent::kAppeared, port}; };
const auto out = [](const char* port) { return PortEvent{PortEvent::kGone, port}; };

TEST(StationLoop, FlashesEachNewModuleOnceAndWaitsForRunningOnesOnStop) {
    Fixture f;
    f.presentPorts = {"ACM9"};
    f.identities = {{"ACM0", {"S1", "P1"}}, {"ACM1", {"S1", "P1"}}, {"ACM2", {"S2", "P2"}}};
    f.rounds = {
        {100, {}, {in("ACM0")}},
        {2000, {}, {out("ACM0"), in("ACM1")}},  // its loader, under another name
        {30000, {{"ACM0", 0}}, {}},
        {500, {}, {out("ACM1"), in("ACM1"), in("ACM2"), in("ACM9")}},  // restarted; new one
        {1000, {}, {in("ACM3")}, true},  // plugged in as the stop comes
    };
    EXPECT_TRUE(f.run({}));
    EXPECT_EQ(f.lines, Lines({"start ACM0", "launch ACM0", "end ACM0 0 32000", "start ACM2",
                              "launch ACM2", "end ACM2 130 1000", "totals 1 1"}));
    EXPECT_EQ(f.totals.exitCode(), 1);
    EXPECT_GE(f.wakes, 1) << "a stop must wake the wait";
}

TEST(StationLoop, AFailedWatchEndsTheStationAfterItsRunningUnits) {
    Fixture f;
    f.presentPorts = {"ACM0"};
    f.codeAtStop = 0;
    f.rounds = {{700, {}, {}, false, true}};
    EXPECT_FALSE(f.run({true, 10000}));
    EXPECT_EQ(f.why.code, ENOSPC);
    EXPECT_EQ(f.lines, Lines({"start ACM0", "launch ACM0", "end ACM0 0 700", "totals 1 0"}));
    EXPECT_EQ(f.totals.exitCode(), 0);
}

// Steps, comma-separated: "MS A PORT SERIAL PLACE NEW" the port appears ('-' for no serial
// number or place; NEW '+' when a unit must begin, '-' when not), "MS G PORT" it goes,
// "MS E PORT" the unit begun on it ends. "P" steps, first, are the ports present at the start,
// with '+' for those that begin a unit at once.
TEST(UnitTracker, TellsNewModulesFromReturningOnes) {
    const std::tuple<const char*, bool, const char*> cases[] = {
        // what, include present, steps
        {"present ports are left alone until they go", false,
         "0 P ACM0 S1 P1 -, 10 A ACM1 S2 P2 +, 20 A ACM0 S1 P1 -, 30 G ACM0, 40 A ACM0 S3 P1 +"},
        {"present ports included, one unit per module", true,
         "0 P ACM0 - P1 +, 0 P ACM1 - P1 -, 0 P ACM2 S2 P2 +, 10 A ACM3 S2 - -"},
        {"its port back during its own update, under its name or another (the loader: no serial "
         "number, same place)",
         false,
         "0 A ACM0 S1 P1 +, 100 G ACM0, 200 A ACM0 S1 P1 -, 300 G ACM0, 400 A ACM3 - P1 -, "
         "600 A ACM1 S2 P2 +"},
        {"restart after its update, with a serial number: never again", false,
         "0 A ACM0 S1 P1 +, 60000 E ACM0, 60100 G ACM0, 61000 A ACM1 S1 P1 -, 62000 G ACM1, "
         "900000 A ACM0 S1 P1 -"},
        {"restart after its update, without one: not within the quiet time, known by its place; "
         "its first name gone all along",
         false,
         "0 A ACM0 - P1 +, 1000 G ACM0, 2000 A ACM1 - P1 -, 60000 E ACM0, 60500 G ACM1, "
         "69999 A ACM0 - P1 -, 70000 G ACM0, 75000 A ACM2 - P1 -, 76000 G ACM2, "
         "86000 A ACM2 - P1 +"},
        {"new module in a used slot: another serial number at once", false,
         "0 A ACM0 S1 P1 +, 50000 E ACM0, 50001 G ACM0, 50002 A ACM0 S2 P1 +"},
        {"new module in a used slot, known by name only: after the quiet time, which counts from "
         "the last going (gone since before its end)",
         false,
         "0 A COM3 - - +, 1000 G COM3, 30000 E COM3, 39999 A COM3 - - -, 41000 G COM3, "
         "50999 A COM3 - - -, 51000 G COM3, 61000 A COM3 - - +"},
    };
    for (const auto& [what, includePresent, steps] : cases) {
        SCOPED_TRACE(what);
        UnitTracker tracker({includePresent, 10000});
        std::vector<std::string> present, units;
        std::vector<PortIdentity> identities;
        std::istringstream all(steps);
        for (std::string step; std::getline(all, step, ',');) {
            SCOPED_TRACE(step);
            uint32_t ms = 0;
            std::string kind, port, serial, place, isNew;
            std::istringstream(step) >> ms >> kind >> port >> serial >> place >> isNew;
            EXPECT_TRUE(kind == "G" || kind == "E" || isNew == "+" || isNew == "-");
            const PortIdentity id{serial == "-" ? "" : serial, place == "-" ? "" : place};
            if (kind == "P") {
                present.push_back(port);
                identities.push_back(id);
                if (isNew == "+") units.push_back(port);
                continue;
            }
            if (!present.empty()) {  // the first step after the present ports
                EXPECT_EQ(tracker.start(present, identities, 0), units);
                present.clear();
            }
            if (kind == "A")
                EXPECT_EQ(tracker.appeared(port, id, ms), isNew == "+");
            else if (kind == "G")
                tracker.gone(port, ms);
            else
                tracker.ended(port, ms);
        }
    }
}

}  // namespace
}  // namespace kestrel::test
