// Which appearing port is a new unit: the module's own port coming back during its update,
// or after it under any name, is never flashed again; a new module in a used slot is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/unit_tracker.h"

namespace kestrel::test {
namespace {

struct Step {
    uint32_t atMs;
    char what;  // 'A' the port appears, 'G' it goes, 'E' the unit begun on it ends
    const char* port;
    const char* serial;
    const char* place;
    bool newUnit;  // for 'A' and ports present at the start: whether a unit begins
};

struct Case {
    const char* name;
    bool includePresent;
    std::vector<Step> present;
    std::vector<Step> steps;
};

TEST(UnitTracker, TellsNewModulesFromReturningOnes) {
    const Case cases[] = {
        {"present ports are left alone until they go",
         false,
         {{0, 'A', "ACM0", "S1", "P1", false}},
         {{10, 'A', "ACM1", "S2", "P2", true},
          {20, 'A', "ACM0", "S1", "P1", false},
          {30, 'G', "ACM0", "", "", false},
          {40, 'A', "ACM0", "S3", "P1", true}}},
        {"present ports included, one unit per module",
         true,
         {{0, 'A', "ACM0", "", "P1", true},
          {0, 'A', "ACM1", "", "P1", false},
          {0, 'A', "ACM2", "S2", "P2", true}},
         {{10, 'A', "ACM3", "S2", "", false}}},
        {"its port back during its own update, under its name or another",
         false,
         {},
         {{0, 'A', "ACM0", "S1", "P1", true},
          {100, 'G', "ACM0", "", "", false},
          {200, 'A', "ACM0", "S1", "P1", false},
          {300, 'G', "ACM0", "", "", false},
          {400, 'A', "ACM3", "", "P1", false},  // the loader: no serial number, same place
          {600, 'A', "ACM1", "S2", "P2", true}}},
        {"restart after its update, with a serial number: never again",
         false,
         {},
         {{0, 'A', "ACM0", "S1", "P1", true},
          {60000, 'E', "ACM0", "", "", false},
          {60100, 'G', "ACM0", "", "", false},
          {61000, 'A', "ACM1", "S1", "P1", false},
          {62000, 'G', "ACM1", "", "", false},
          {900000, 'A', "ACM0", "S1", "P1", false}}},
        {"restart after its update, without one: not within the quiet time",
         false,
         {},
         {{0, 'A', "ACM0", "", "P1", true},
          {1000, 'G', "ACM0", "", "", false},
          {2000, 'A', "ACM1", "", "P1", false},
          {60000, 'E', "ACM0", "", "", false},  // its first name gone all along
          {60500, 'G', "ACM1", "", "", false},
          {69999, 'A', "ACM0", "", "P1", false},
          {70000, 'G', "ACM0", "", "", false},
          {75000, 'A', "ACM2", "", "P1", false},  // by its place
          {76000, 'G', "ACM2", "", "", false},
          {86000, 'A', "ACM2", "", "P1", true}}},
        {"new module in a used slot: another serial number at once",
         false,
         {},
         {{0, 'A', "ACM0", "S1", "P1", true},
          {50000, 'E', "ACM0", "", "", false},
          {50001, 'G', "ACM0", "", "", false},
          {50002, 'A', "ACM0", "S2", "P1", true}}},
        {"new module in a used slot, known by name only: after the quiet time",
         false,
         {},
         {{0, 'A', "COM3", "", "", true},
          {1000, 'G', "COM3", "", "", false},
          {30000, 'E', "COM3", "", "", false},  // gone since before its end
          {39999, 'A', "COM3", "", "", false},
          {41000, 'G', "COM3", "", "", false},
          {50999, 'A', "COM3", "", "", false},  // the quiet time counts from the last going
          {51000, 'G', "COM3", "", "", false},
          {61000, 'A', "COM3", "", "", true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnitTracker tracker({c.includePresent, 10000});
        std::vector<std::string> ports, expected;
        std::vector<PortIdentity> identities;
        for (const Step& p : c.present) {
            ports.push_back(p.port);
            identities.push_back({p.serial, p.place});
            if (p.newUnit) expected.push_back(p.port);
        }
        EXPECT_EQ(tracker.start(ports, identities, 0), expected);
        for (const Step& s : c.steps) {
            SCOPED_TRACE(std::string(1, s.what) + " " + s.port + " at " + std::to_string(s.atMs));
            if (s.what == 'A')
                EXPECT_EQ(tracker.appeared(s.port, {s.serial, s.place}, s.atMs), s.newUnit);
            else if (s.what == 'G')
                tracker.gone(s.port, s.atMs);
            else
                tracker.ended(s.port, s.atMs);
        }
    }
}

}  // namespace
}  // namespace kestrel::test
