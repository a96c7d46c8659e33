// Shared set-ups for the session tests.
#pragma once

#include <string>
#include <vector>

#include "module_model.h"
#include "support/test_image.h"
#include "support/virtual_world.h"

namespace kestrel::test {

// A loader-only module (no firmware) that expects `records` and answers per `answers`.
inline sim::ModuleConfig loaderModule(const std::vector<Record>& records,
                                      sim::AnswerScript answers = {}) {
    sim::ModuleConfig c;
    c.firmwarePresent = false;
    c.expectedRecords = records;
    c.answers = std::move(answers);
    return c;
}

// Fields for a no-firmware update over RS-232 on COM1 at 115200.
inline void noFirmwareFields(RecordingHost& host) {
    copyText(host.fields.portName, "COM1");
    copyText(host.fields.rateText, "115200");
    host.fields.noFirmware = true;
}

// The writes the driver made, each as its bytes.
inline std::vector<std::string> writes(const FakeSerialOs& os) {
    std::vector<std::string> out;
    for (const Event& e : os.eventsOf(Event::Kind::Write))
        out.push_back(e.text);
    return out;
}

inline std::string wire(const Record& r) {
    return std::string(r.begin(), r.end());
}

}  // namespace kestrel::test
