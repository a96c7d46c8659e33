// Which appearing port is a new unit: the module's own port coming back during its update,
// or after it under any name, is never flashed again; a new module in a used slot is.
#include <gtest/gtest.h>

#include <sstream>

#include "station/unit_tracker.h"

namespace kestrel::test {
namespace {

// Steps, comma-separated: "MS A PORT SERIAL PLACE NEW" the port appears ('-' for no serial
// number or place; NEW '+' when a unit must begin, '-' when not), "MS G PORT" it goes,
// "MS E PORT" the unit begun on it ends. The ports present at the start are "A" steps too.
struct Case {
    const char* name;
    bool includePresent;
    const char* present;
    const char* steps;
};

TEST(UnitTracker, TellsNewModulesFromReturningOnes) {
    const Case cases[] = {
        {"present ports are left alone until they go", false, "0 A ACM0 S1 P1 -",
         "10 A ACM1 S2 P2 +, 20 A ACM0 S1 P1 -, 30 G ACM0, 40 A ACM0 S3 P1 +"},
        {"present ports included, one unit per module", true,
         "0 A ACM0 - P1 +, 0 A ACM1 - P1 -, 0 A ACM2 S2 P2 +", "10 A ACM3 S2 - -"},
        {"its port back during its own update, under its name or another (the loader: no serial "
         "number, same place)",
         false, "",
         "0 A ACM0 S1 P1 +, 100 G ACM0, 200 A ACM0 S1 P1 -, 300 G ACM0, 400 A ACM3 - P1 -, "
         "600 A ACM1 S2 P2 +"},
        {"restart after its update, with a serial number: never again", false, "",
         "0 A ACM0 S1 P1 +, 60000 E ACM0, 60100 G ACM0, 61000 A ACM1 S1 P1 -, 62000 G ACM1, "
         "900000 A ACM0 S1 P1 -"},
        {"restart after its update, without one: not within the quiet time, known by its place; "
         "its first name gone all along",
         false, "",
         "0 A ACM0 - P1 +, 1000 G ACM0, 2000 A ACM1 - P1 -, 60000 E ACM0, 60500 G ACM1, "
         "69999 A ACM0 - P1 -, 70000 G ACM0, 75000 A ACM2 - P1 -, 76000 G ACM2, "
         "86000 A ACM2 - P1 +"},
        {"new module in a used slot: another serial number at once", false, "",
         "0 A ACM0 S1 P1 +, 50000 E ACM0, 50001 G ACM0, 50002 A ACM0 S2 P1 +"},
        {"new module in a used slot, known by name only: after the quiet time, which counts from "
         "the last going (gone since before its end)",
         false, "",
         "0 A COM3 - - +, 1000 G COM3, 30000 E COM3, 39999 A COM3 - - -, 41000 G COM3, "
         "50999 A COM3 - - -, 51000 G COM3, 61000 A COM3 - - +"},
    };
    struct Step {
        uint32_t atMs = 0;
        std::string what, port, serial, place, isNew;
    };
    const auto stepsOf = [](const std::string& text) {
        std::vector<Step> steps;
        std::istringstream all(text);
        for (std::string one; std::getline(all, one, ',');) {
            Step s;
            std::istringstream(one) >> s.atMs >> s.what >> s.port >> s.serial >> s.place >> s.isNew;
            EXPECT_TRUE(s.what != "A" || s.isNew == "+" || s.isNew == "-") << one;
            for (std::string* field : {&s.serial, &s.place})
                if (*field == "-") field->clear();
            steps.push_back(s);
        }
        return steps;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnitTracker tracker({c.includePresent, 10000});
        std::vector<std::string> ports, expected;
        std::vector<PortIdentity> identities;
        for (const Step& p : stepsOf(c.present)) {
            ports.push_back(p.port);
            identities.push_back({p.serial, p.place});
            if (p.isNew == "+") expected.push_back(p.port);
        }
        EXPECT_EQ(tracker.start(ports, identities, 0), expected);
        for (const Step& s : stepsOf(c.steps)) {
            SCOPED_TRACE(s.what + " " + s.port + " at " + std::to_string(s.atMs));
            if (s.what == "A")
                EXPECT_EQ(tracker.appeared(s.port, {s.serial, s.place}, s.atMs), s.isNew == "+");
            else if (s.what == "G")
                tracker.gone(s.port, s.atMs);
            else
                tracker.ended(s.port, s.atMs);
        }
    }
}

}  // namespace
}  // namespace kestrel::test
