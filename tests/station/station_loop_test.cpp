// The station's loop against a scripted watcher and launcher: each new module is launched
// once, each end reported with its time, and a stop lets the running updates finish.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <map>
#include <set>
#include <tuple>

#include "station/station_loop.h"
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
        launched.push_back(port);
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
    Lines launched, lines;
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
    EXPECT_EQ(f.launched, Lines({"ACM0", "ACM2"}));
    EXPECT_EQ(f.lines, Lines({"start ACM0", "end ACM0 0 32000", "start ACM2", "end ACM2 130 1000",
                              "totals 1 1"}));
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
    EXPECT_EQ(f.lines, Lines({"start ACM0", "end ACM0 0 700", "totals 1 0"}));
    EXPECT_EQ(f.totals.exitCode(), 0);
}

}  // namespace
}  // namespace kestrel::test
