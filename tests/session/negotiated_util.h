// Set-ups for the negotiated roads: a module with working firmware, the operator's fields for
// it, and a bare session for driving the entry and hand-back phases on their own.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "modem/dialogue_timing.h"
#include "modem/dialogue_transcript.h"
#include "session/session_phases.h"
#include "session/session_test_util.h"

namespace kestrel::test {

// Working firmware fixed at `rate`, whose loader expects `records`.
inline sim::ModuleConfig firmwareModule(uint32_t rate, const std::vector<Record>& records = {}) {
    sim::ModuleConfig c;
    c.rate = rate;
    c.expectedRecords = records;
    return c;
}

// Fields for a negotiated update on COM1 at `rate`.
inline void negotiatedFields(RecordingHost& host, const char* rate, bool usb = false,
                             const char* firmwareName = "") {
    copyText(host.fields.portName, "COM1");
    copyText(host.fields.rateText, rate);
    host.fields.usb = usb;
    host.fields.noFirmware = false;
    copyText(host.fields.firmwareName, firmwareName);
}

// A session as the driver has it when it reaches the entry or the hand-back.
inline Session phaseSession(RecordingHost& host, int32_t requestedRate, bool usb = false) {
    Session s;
    s.reporter = &host;
    std::strcpy(s.devicePath, "COM1");
    s.requestedRate = requestedRate;
    s.usbMode = usb;
    return s;
}

// Makes the port disappear for good once the loader has accepted the last of `count`
// records: every later open fails. `os` must be set before the session runs.
inline sim::AnswerScript unplugAfterLastRecord(int count, FakeSerialOs** os) {
    return [count, os](int block, int) {
        if (block == count - 1 && *os) (*os)->devices.clear();
        return sim::BlockAnswer{};
    };
}

}  // namespace kestrel::test
