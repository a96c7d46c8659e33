// Shared set-ups for the session tests: whole updates against the simulated module, and bare
// sessions for driving the entry and hand-back phases on their own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "modem/dialogue_timing.h"
#include "modem/dialogue_transcript.h"
#include "module_model.h"
#include "session/session_phases.h"
#include "session/update_session.h"
#include "support/virtual_world.h"

namespace kestrel::test {

// How many lines of `all` are `line`.
inline size_t count(const Texts& all, const std::string& line) {
    return static_cast<size_t>(std::count(all.begin(), all.end(), line));
}

// A loader-only module (no firmware) that answers each record per `answers`.
inline sim::ModuleConfig loaderModule(sim::AnswerScript answers = {}) {
    return with({}, [&answers](auto& c) {
        c.firmwarePresent = false;
        c.answers = std::move(answers);
    });
}

// Firmware on USB whose port drops 200 ms after the download command's OK and stays away
// `goneMs`.
inline sim::ModuleConfig usbModule(uint32_t goneMs = 3000) {
    return with({}, [goneMs](auto& c) {
        c.usb = true;
        c.usbDropMs = 200;
        c.usbGoneMs = goneMs;
    });
}

inline std::string wire(const Record& r) {
    return std::string(r.begin(), r.end());
}

// The writes the driver made, each as its bytes.
inline std::vector<std::string> writes(const FakeSerialOs& os) {
    std::vector<std::string> out;
    for (const Event& e : os.eventsOf(Event::Kind::Write))
        out.push_back(e.text);
    return out;
}

// One whole update on COM1 at 115200 over RS-232: the module expects `records` and the program
// file carries them. Adjust `w` (fields, device) before run().
struct UpdateRun {
    UpdateRun(std::vector<Record> recs, sim::ModuleConfig config, bool noFirmware)
        : records(std::move(recs)), w(expecting(std::move(config), records)) {
        w.useImage(records);
        w.host.fields.noFirmware = noFirmware;
    }
    static sim::ModuleConfig expecting(sim::ModuleConfig c, const std::vector<Record>& r) {
        c.expectedRecords = r;
        return c;
    }
    UpdateRun& run() {
        outcome = w.runSession();
        return *this;
    }
    std::vector<std::string> dialogue(bool timed = false) const {
        return transcript(w.os, records, timed);
    }
    // The status lines, each after its virtual ms.
    std::vector<std::string> statusLines() const {
        std::vector<std::string> out;
        for (const RecordingHost::Status& s : w.host.statuses)
            out.push_back(std::to_string(s.atMs - w.clock.start()) + " " + s.text);
        return out;
    }
    int sendsOf(size_t i) const {
        return static_cast<int>(writesOf(w.os, wire(records[i])).size());
    }
    // Every way out: START given back once, port and image closed.
    void expectReleased() const {
        EXPECT_EQ(w.host.startEnabled, 1);
        EXPECT_FALSE(w.os.isOpen());
        EXPECT_FALSE(w.image->imageIsOpen()) << "image left open";
    }
    std::vector<Record> records;
    VirtualWorld w;
    SessionOutcome outcome;
};

// A session as the driver has it when it reaches the entry or the hand-back.
inline Session phaseSession(VirtualWorld& w, int32_t requestedRate, bool usb = false) {
    Session s(w.port, *w.image, w.host);
    std::strcpy(s.portName, "COM1");
    s.requestedRate = requestedRate;
    s.usbMode = usb;
    return s;
}

// Makes the port disappear for good once the loader has accepted the last of `count` records:
// every later open fails. `os` must be set before the session runs.
inline sim::AnswerScript unplugAfterLastRecord(int count, FakeSerialOs** os) {
    return [count, os](int block, int) {
        if (block == count - 1 && *os) (*os)->devices.clear();
        return sim::BlockAnswer{};
    };
}

}  // namespace kestrel::test
