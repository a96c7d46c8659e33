// One seeded chaos session: a fresh virtual world set up from a chaos plan, with the port's
// claim, the link's line errors and a USB port that may return under another name; and what
// must hold after it, whatever the module did.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "chaos.h"
#include "session/status_texts.h"
#include "support/virtual_world.h"

namespace kestrel::test {

struct ChaosWorld {
    explicit ChaosWorld(const sim::ChaosPlan& p)
        : plan(p),
          w(p.module, p.link.clockStartMs),
          port(w.os, w.clock),
          locator(w.os, p.link.usbReturnsAs, p.link.usbReturnsElsewhere) {
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
        // What the module holds when the session says the image went over ("Download
        // succeeded, finishing update process.", which every success passes): judged then, as
        // a model loader may later take the hand-back's AT text for records.
        w.host.onStatus = [this](const char* text) {
            if (std::strcmp(text, status::kTransferDone) == 0)
                claimsWithoutImage += w.module.imageComplete() ? 0 : 1;
        };
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
        outcome = runUpdateSession(w.host, {port, *w.image, &lock, nullptr, nullptr, where});
        return outcome;
    }

    const sim::ChaosPlan& plan;
    VirtualWorld w;
    CountingLock lock;
    int opensWithoutClaim = 0, claimsWithoutImage = 0;
    SerialPort port;  // the session's port
    ReturningPort locator;
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
