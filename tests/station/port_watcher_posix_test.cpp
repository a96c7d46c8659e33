// The Linux watcher on folders the test makes: ports (files and links) coming and going,
// the pattern's folder appearing and going under a watched parent, wake-ups. The
// identity lookup is run for real by the station's end-to-end cases (e2e.station_*).
#include <chrono>

#include "serial_posix/posix_tree.h"
#include "station/port_watcher.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct Watcher : testing::Test, TempTree {
    std::unique_ptr<PortWatcher> watch(const std::string& pattern) {
        SystemError why;
        auto watcher = createPortWatcher(pattern, &why);
        EXPECT_NE(watcher, nullptr) << why.code << " " << why.path;
        return watcher;
    }

    // What the watcher reports until `count` events have come, names in by-id without their
    // folder; the kernel queues them as the change is made, so each wait returns at once and a few
    // rounds cover folder changes.
    Lines changes(PortWatcher& watcher, size_t count) {
        std::vector<PortEvent> events;
        SystemError why;
        for (int round = 0; round < 4 && events.size() < count; ++round)
            EXPECT_TRUE(watcher.wait(100, &events, &why)) << why.code << " " << why.path;
        Lines lines;
        for (const PortEvent& e : events)
            lines.push_back((e.kind == PortEvent::kAppeared ? "+" : "-") +
                            (e.port.rfind(byId, 0) == 0 ? e.port.substr(byId.size()) : e.port));
        return lines;
    }

    // A port link in by-id.
    void port(const std::string& name) { link("../../ttyACM0", "/dev/serial/by-id/" + name); }
    const std::string byId = root + "/dev/serial/by-id/";
};

TEST_F(Watcher, ReportsMatchingPortsAsTheyComeAndGoAndFollowsThePatternsFolder) {
    fs::create_directories(root + "/dev");
    auto watcher = watch(byId + "*-if00");
    ASSERT_NE(watcher, nullptr);
    EXPECT_TRUE(watcher->present().empty());

    // udev makes the folders and the links one after another; the watcher catches up. A
    // hidden name is never a match, found there or appearing.
    for (const char* name : {"usb-A-if00", "usb-A-if02", ".usb-H-if00"})
        port(name);
    EXPECT_EQ(changes(*watcher, 1), Lines({"+usb-A-if00"}));
    port("usb-B-if00");
    fs::remove(byId + "usb-A-if00");
    fs::rename(byId + "usb-B-if00", byId + "usb-C-if00");
    fs::rename(byId + "usb-C-if00", byId + "usb-C-old");
    fs::rename(byId + "usb-A-if02", byId + "usb-D-if00");
    port("usb-E-if00");
    port(".usb-I-if00");
    EXPECT_EQ(changes(*watcher, 7),
              Lines({"+usb-B-if00", "-usb-A-if00", "-usb-B-if00", "+usb-C-if00", "-usb-C-if00",
                     "+usb-D-if00", "+usb-E-if00"}));
    EXPECT_EQ(watch(byId + "*-if00")->present(), Lines({byId + "usb-D-if00", byId + "usb-E-if00"}));

    // A folder moved away takes its ports along; one removed makes the watch go up again.
    fs::rename(byId, root + "/dev/serial/old");
    EXPECT_EQ(changes(*watcher, 2), Lines({"-usb-D-if00", "-usb-E-if00"}));
    fs::remove_all(root + "/dev/serial");
    port("usb-F-if00");
    EXPECT_EQ(changes(*watcher, 1), Lines({"+usb-F-if00"}));
}

// A signal's interrupted wait is no failure of the watch: e2e.station_text ends the station by
// SIGINT and expects exit 0.
TEST_F(Watcher, AWaitEndsEarlyOnAWake) {
    auto watcher = watch(root + "/ttyACM*");
    ASSERT_NE(watcher, nullptr);
    watcher->wake();
    std::vector<PortEvent> events;
    SystemError why;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_TRUE(watcher->wait(1000, &events, &why)) << why.code;
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(600));
    EXPECT_TRUE(events.empty());
}

TEST_F(Watcher, RefusesPatternsItCannotWatch) {
    write("/plain", "");
    const std::pair<std::string, std::string> cases[] = {
        // pattern, reason
        {"dev/ttyACM*", "dev/ttyACM*: the pattern must be an absolute path"},
        {"/dev/*/ttyACM0", "/dev/*/ttyACM0: only the pattern's last part may hold wildcards"},
        {"/dev/serial/", "/dev/serial/: the pattern names no port after its last '/'"},
        {root + "/plain/x*", ""},  // a file where its folder should be: waits above it
    };
    for (const auto& [pattern, reason] : cases) {
        SystemError why;
        const auto watcher = createPortWatcher(pattern, &why);
        char text[400];
        describeSystemError(why, text, sizeof text);
        EXPECT_EQ(text, reason);
        EXPECT_EQ(watcher == nullptr, !reason.empty());
    }
}

}  // namespace
}  // namespace kestrel::test
