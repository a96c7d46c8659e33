// One seeded chaos session: a fresh virtual world set up from a chaos plan, with the port's
// claim, the link's line errors and a USB port that may return under another name; and what
// must hold after it, whatever the module did.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "chaos.h"
#include "serial/port_locator.h"
#include "serial/port_lock.h"
#include "session/status_texts.h"
#include "support/virtual_world.h"

namespace kestrel::test {

// A claim that counts what the session does with it.
struct CountingLock final : PortLock {
    bool acquire(const char* portName, SystemError* why) override {
        ++acquired;
        if (refuse) why->set(EBUSY, portName);
        held = !refuse;
        return held;
    }
    void release() override {
        ++released;
        held = false;
    }
    const char* identity() const override { return kestrel::sim::kChaosPortName; }

    bool refuse = false;
    bool held = false;
    int acquired = 0;
    int released = 0;
};

// The host's device tree after the download command: the old name is gone, and the port is
// found at the module's place under the link's `usbReturnsAs`, or (elsewhere) not at all.
struct RenamingLocator final : PortLocator {
    RenamingLocator(FakeSerialOs& os, const sim::ChaosLink& link) : os(os), link(link) {}
    bool remember(const char*) override {
        os.devices = {link.usbReturnsAs};
        return true;
    }
    bool findReturned(char* path, size_t capacity) override {
        const std::string& name = link.usbReturnsAs;
        if (link.usbReturnsElsewhere || name.size() + 1 > capacity) return false;
        std::memcpy(path, name.c_str(), name.size() + 1);
        return true;
    }
    FakeSerialOs& os;
    const sim::ChaosLink& link;
};

// The world's front end, seen by the session: every call reaches the recording host, and
// what the module holds is noted at the moment the session claims the image went over
// ("Download succeeded, finishing update process.", "Download succeeded."). A claim is
// judged when it is made: a loader that later takes the hand-back's text for records is
// another matter, which the hand-back's own texts report.
class ClaimWatch final : public SessionHost {
  public:
    ClaimWatch(SessionHost& host, const sim::ModuleModel& module) : host_(host), module_(module) {}
    void readFields(SessionFields* f) override { host_.readFields(f); }
    void setStatus(const char* text) override {
        if (std::strcmp(text, status::kTransferDone) == 0 ||
            std::strcmp(text, status::kSucceeded) == 0)
            claimsWithoutImage += module_.imageComplete() ? 0 : 1;
        host_.setStatus(text);
    }
    void setProgressRange(int32_t maximum) override { host_.setProgressRange(maximum); }
    void setProgressPosition(int32_t position) override { host_.setProgressPosition(position); }
    void enableStart() override { host_.enableStart(); }
    void phaseChanged(SessionPhase phase) override { host_.phaseChanged(phase); }

    int claimsWithoutImage = 0;

  private:
    SessionHost& host_;
    const sim::ModuleModel& module_;
};

struct ChaosWorld {
    explicit ChaosWorld(const sim::ChaosPlan& p)
        : plan(p), w(p.module, p.link.clockStartMs), port(w.os, w.clock), locator(w.os, p.link) {
        const sim::ChaosLink& l = p.link;
        if (l.substitutedRate != 0) w.os.substitutes[l.substitutedRate] = l.substituteWith;
        if (l.refusedRate != 0) w.os.refusedRates.insert(l.refusedRate);
        w.os.modemStatusFails = l.modemStatusFails;
        w.os.lineErrorQueryFails = l.lineErrorQueryFails;
        lock.refuse = l.portClaimedElsewhere;
        // What the link adds: line errors from the loader's first byte on, a watch that the
        // port is opened only under the claim, and the device gone once the image is taken.
        w.os.onRead = [this, errors = l.lineErrorReads]() mutable {
            if (errors > 0 && w.module.inLoader())
                w.os.lineErrorsOnNextReads = std::exchange(errors, 0);
        };
        w.os.onOpen = [this] { opensWithoutClaim += lock.held ? 0 : 1; };
        if (l.unplugWhenImageTaken)
            w.os.onClose = [this] {
                if (w.module.imageComplete()) w.os.devices.clear();
            };
        w.useImage(p.records());
        SessionFields& f = w.host.fields;
        copyText(f.portName, p.op.portName.c_str());
        copyText(f.rateText, p.op.rateText.c_str());
        f.usb = p.op.usb;
        f.noFirmware = p.op.noFirmware;
        copyText(f.firmwareName, p.op.firmwareName.c_str());
    }
    ChaosWorld(const ChaosWorld&) = delete;
    ChaosWorld& operator=(const ChaosWorld&) = delete;

    SessionOutcome run() {
        PortLocator* where = plan.link.usbReturnsAs.empty() ? nullptr : &locator;
        outcome = runUpdateSession(watch, {port, *w.image, &lock, nullptr, nullptr, where});
        return outcome;
    }

    const sim::ChaosPlan& plan;
    VirtualWorld w;
    CountingLock lock;
    int opensWithoutClaim = 0;
    SerialPort port;  // the session's port
    RenamingLocator locator;
    ClaimWatch watch{w.host, w.module};
    SessionOutcome outcome;
};

// The longest the session may have taken: the worst case of each phase it went through, from
// the prescribed waits, plus one read timeout for every byte it read.
uint64_t sessionBoundMs(const ChaosWorld& cw);

// The same for the block transfer alone (outcome.transferMs).
uint64_t transferBoundMs(const ChaosWorld& cw);

// The invariants the session broke, each in a few words; empty when it kept them all.
std::vector<std::string> brokenInvariants(const ChaosWorld& cw);

// The session as it went, for a replay: plan, outcome, module, statuses with their times, and
// with `trace` first every write, module byte, open, close and DTR edge with its time.
std::string sessionReport(const ChaosWorld& cw, bool trace);

}  // namespace kestrel::test
