#include "modem_sim/simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "modem_sim/update_summary.h"

namespace kestrel::sim {

namespace {

// Once the loader has had records, the host keeping the port closed this long ends the
// update. The longest close within one update after the transfer is 1000 ms.
constexpr uint64_t kQuietAfterCloseUs = 2500000;
// How often the port's presence is looked at while it may change.
constexpr int64_t kPortAwayTickUs = 5000;
// A master that reports a hang-up while the slave counts as open is left alone this long.
constexpr uint64_t kMasterRestUs = 2000;
// The USB device a port returning "elsewhere" comes back on.
constexpr int kOtherUsbPort = 3;

// `path` with its last part replaced by `name`.
std::string sibling(const std::string& path, const std::string& name) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

}  // namespace

Simulator::Simulator(SimOptions options, const std::vector<std::vector<uint8_t>>* expected)
    : options_(std::move(options)), expected_(expected), link_(options_.link) {
    if (expected_ != nullptr) options_.module.expectedRecords = *expected_;
    startUs_ = nowUs();
    newModule();
}

uint64_t Simulator::nowUs() const {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u -
           startUs_;
}

// 10 bits a byte: start, 8 data, stop.
uint64_t Simulator::wireTimeUs(uint32_t rate) const {
    return rate == 0 ? 0 : (10000000ull + rate - 1) / rate;
}

uint32_t Simulator::hostRate() const {
    uint32_t rate = 0;
    return pty_.slaveRate(&rate) && rate != 0 ? rate : lastRate_;
}

void Simulator::newModule() {
    // The rate set with AT+IPR= survives a power cycle: a module left at a moved rate by a
    // tool that died is found there by the next update.
    if (model_) options_.module.rate = model_->config().rate;
    model_ = std::make_unique<ModuleModel>(options_.module);
    toHost_.clear();
    toModule_.clear();
    transferBegan_ = false;
    switchedOff_ = false;
    hostRates_.clear();
    rateFloor_ = 0;
    begin_ = markOf(*model_, 0);
    reopened_ = false;
}

void Simulator::endUpdate(const char* reason, const StatsMark& at) {
    if (!printUpdateSummary(stdout, model_->stats(), begin_, at, hostRates_, expected_, reason))
        anyDifference_ = true;
    endedOnce_ = true;
}

// The loader was entered again after records went to it: the tool that sent them is gone
// and another update has begun, from the first open since then. The module stays as it is.
void Simulator::anotherUpdateBegan() {
    const StatsMark at = reopened_ ? reopen_ : markOf(*model_, hostRates_.size());
    endUpdate("another update began", at);
    begin_ = at;
    rateFloor_ = at.hostRates;
    reopened_ = false;
    transferBegan_ = false;
    switchedOff_ = false;
    if (options_.once) stop_ = true;
}

bool Simulator::bringUpPort(std::string* error) {
    if (options_.deviceTree.empty()) return pty_.bringUp(link_, error);
    // The USB device first, its port's node then: whoever sees the node appear finds it.
    return pty_.bringUp(link_, error, [this](std::string* why) {
        return tree_.addTty(link_.substr(link_.rfind('/') + 1), pty_.device(), usbPort_, why);
    });
}

bool Simulator::setUp() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    std::string error;
    // The bus number is ours alone (a process id): port claims are named after the USB
    // device, host-wide, and simulators running side by side must not share one.
    if (signalFd_ < 0 ||
        (!options_.sideChannel.empty() && !side_.listenAt(options_.sideChannel, &error)) ||
        (!options_.deviceTree.empty() &&
         !tree_.create(options_.deviceTree, static_cast<int>(getpid()), options_.usbSerial,
                       &error)) ||
        !bringUpPort(&error)) {
        std::fprintf(stderr, "kestrel-modem-sim: %s\n", error.c_str());
        return false;
    }
    std::printf("kestrel-modem-sim: ready at %s (%s)\n", link_.c_str(), pty_.slavePath().c_str());
    std::fflush(stdout);
    return true;
}

// --- the host's side -------------------------------------------------------------------

void Simulator::slaveChanged(bool opened, uint64_t now) {
    // Without the shim nobody tells us about DTR: Linux raises it on open and HUPCL drops
    // it on the last close, so that is what the module sees.
    const bool lineFromOpen = !side_.hasClients();
    if (opened) {
        // Perhaps the next update's first open: note the counts and the module as the last
        // tool left them.
        if (transferBegan_ && !reopened_) {
            reopen_ = markOf(*model_, hostRates_.size());
            rateFloor_ = hostRates_.size();
            reopened_ = true;
        }
        if (returned_ && !returnedOpened_) {
            returnedOpened_ = true;
            std::fprintf(stderr, "kestrel-modem-sim: the tool opened the returned port\n");
        }
        masterRestUntilUs_ = 0;
        if (lineFromOpen) model_->setDtr(true, ms(now));
        model_->hostOpened(ms(now));
    } else {
        closedAtUs_ = now;
        unwritten_.clear();  // nobody reads them; the next opener would purge them anyway
        if (lineFromOpen) model_->setDtr(false, ms(now));
    }
}

void Simulator::readFromMaster(uint64_t now) {
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(pty_.master(), buf, sizeof buf);
        if (n > 0) {
            hostBytes(buf, static_cast<size_t>(n), now);
            continue;
        }
        // EIO: no slave open any more; the inotify event tells the rest.
        if (n < 0 && errno == EIO) masterRestUntilUs_ = now + kMasterRestUs;
        return;
    }
}

void Simulator::hostBytes(const uint8_t* bytes, size_t count, uint64_t now) {
    // The tool's bytes leave at the rate its side is set to right now.
    const uint32_t rate = hostRate();
    lastRate_ = rate;
    if (hostRates_.size() == rateFloor_ || hostRates_.back() != rate) hostRates_.push_back(rate);
    if (!options_.pace) {
        giveToModule(bytes, count, rate, now);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint64_t start = inLineFreeUs_ > now ? inLineFreeUs_ : now;
        inLineFreeUs_ = start + wireTimeUs(rate);
        toModule_.push_back({inLineFreeUs_, bytes[i], rate});
    }
}

void Simulator::giveToModule(const uint8_t* bytes, size_t count, uint32_t rate, uint64_t now) {
    const bool wasInLoader = model_->inLoader();
    if (wasInLoader && !transferBegan_) {
        transferBegan_ = true;
        std::fprintf(stderr, "kestrel-modem-sim: transfer began\n");
    }
    model_->receive(bytes, count, rate, ms(now));
    if (!wasInLoader && model_->inLoader() && transferBegan_) anotherUpdateBegan();
    // Remembered: the DTR drop of the tool's closing powers the model down from there.
    if (model_->switchedOff()) switchedOff_ = true;
}

void Simulator::feedModule(uint64_t now) {
    while (!toModule_.empty() && toModule_.front().atUs <= now) {
        const InByte b = toModule_.front();
        toModule_.pop_front();
        giveToModule(&b.value, 1, b.rate, now);
    }
}

// --- the module's side -----------------------------------------------------------------

void Simulator::collectModuleBytes(uint64_t now) {
    uint32_t due = 0;
    while (model_->nextByteDue(&due) && static_cast<int32_t>(ms(now) - due) >= 0) {
        const WireByte b = model_->takeByte();
        uint64_t at = now;
        if (options_.pace) {
            const uint64_t start = outLineFreeUs_ > now ? outLineFreeUs_ : now;
            at = start + wireTimeUs(b.rate);
            outLineFreeUs_ = at;
        }
        toHost_.push_back({at, b});
    }
}

void Simulator::deliverToHost(uint64_t now) {
    while (!toHost_.empty() && toHost_.front().atUs <= now) {
        const WireByte sent = toHost_.front().byte;
        toHost_.pop_front();
        if (!pty_.up() || !pty_.slaveOpen()) continue;  // nobody listening: lost
        // Heard at the rate the tool's side is set to when the byte arrives.
        const WireByte heard = receivedAs(sent, hostRate());
        if (heard.lineError) ++frameErrors_;
        unwritten_.push_back(static_cast<char>(heard.value));
    }
}

void Simulator::flushToMaster() {
    while (!unwritten_.empty() && pty_.up()) {
        const ssize_t n = write(pty_.master(), unwritten_.data(), unwritten_.size());
        if (n > 0) {
            unwritten_.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;  // poll for POLLOUT
        unwritten_.clear();
        return;
    }
}

// A USB port leaves and returns (as a new pty) when the module says so; a vanished module
// takes its port with it for good.
void Simulator::followPortPresence(uint64_t now) {
    if (pty_.up()) {
        bool drop = false;
        if (model_->vanished()) {
            drop = true;
        } else if (!model_->portPresent(ms(now))) {
            // Bytes still on their way get there first.
            drop = toHost_.empty();
        }
        if (drop) {
            tree_.removeTty();
            pty_.takeDown();
            unwritten_.clear();
            toHost_.clear();
            std::fprintf(stderr, "kestrel-modem-sim: port gone from %s\n", link_.c_str());
        }
        return;
    }
    if (model_->vanished() || !model_->portPresent(ms(now)) || now < restartBackUs_) return;
    // Where it returns: under its name or another, on its USB device or another.
    if (!options_.returnAs.empty()) link_ = sibling(link_, options_.returnAs);
    if (options_.returnElsewhere) usbPort_ = kOtherUsbPort;
    std::string error;
    if (!bringUpPort(&error)) {
        std::fprintf(stderr, "kestrel-modem-sim: cannot bring the port back: %s\n", error.c_str());
        stop_ = true;
        return;
    }
    returned_ = true;
    returnedOpened_ = false;
    std::fprintf(stderr, "kestrel-modem-sim: port back at %s (%s)\n", link_.c_str(),
                 pty_.slavePath().c_str());
}

// The module restarts into the firmware it was just given: its port leaves (a USB device
// leaving the bus) and returns on the same USB device, as followPortPresence() brings it back.
void Simulator::restartAfterUpdate(uint64_t now) {
    options_.module.firmwarePresent = true;
    if (!pty_.up()) return;
    tree_.removeTty();
    pty_.takeDown();
    unwritten_.clear();
    restartBackUs_ = now + options_.restartAfterUpdateMs * 1000ull;
    std::fprintf(stderr, "kestrel-modem-sim: port gone from %s (restarting)\n", link_.c_str());
}

// --- the shim's side channel -----------------------------------------------------------

void Simulator::serveSideChannel(int client, uint64_t now) {
    SideRequest request;
    for (;;) {
        const SideChannel::Received got = side_.receive(client, &request);
        if (got == SideChannel::Received::Nothing) return;
        if (got == SideChannel::Received::Gone) {
            // The tool's process has ended: its last close dropped DTR.
            if (!side_.hasClients()) model_->setDtr(false, ms(now));
            return;
        }
        SideReply reply;
        if (pty_.up() && request.device == static_cast<uint64_t>(pty_.device())) {
            reply.status = kServed;
            switch (request.command) {
                case kSetDtr:
                    model_->setDtr(request.arg != 0, ms(now));
                    break;
                case kQueryLines:
                    reply.cts = model_->cts(ms(now)) ? 1 : 0;
                    break;
                case kQueryErrors:
                    reply.frameErrors = frameErrors_;
                    break;
                default:  // RTS: the module does not look at it
                    break;
            }
        }
        side_.reply(client, reply);
    }
}

// --- the loop --------------------------------------------------------------------------

// Why the update is over, or null while it goes on.
const char* Simulator::updateEnded(uint64_t now) {
    if (model_->vanished() && !pty_.up()) return "the module vanished";
    if (switchedOff_ && !pty_.slaveOpen()) return "the module was switched off";
    if (transferBegan_ && pty_.up() && !pty_.slaveOpen() && now - closedAtUs_ >= kQuietAfterCloseUs)
        return "the tool closed the port after the transfer";
    return nullptr;
}

int64_t Simulator::timeoutUs(uint64_t now) const {
    int64_t best = -1;
    auto consider = [&](int64_t us) {
        if (us < 0) us = 0;
        if (best < 0 || us < best) best = us;
    };
    uint32_t due = 0;
    if (model_->nextByteDue(&due)) {
        // Due once the millisecond count reaches `due`: at the start of that millisecond.
        const int32_t aheadMs = static_cast<int32_t>(due - ms(now));
        const uint64_t dueUs =
            (now / 1000 + static_cast<uint64_t>(aheadMs > 0 ? aheadMs : 0)) * 1000;
        consider(static_cast<int64_t>(dueUs) - static_cast<int64_t>(now));
    }
    if (!toHost_.empty()) consider(static_cast<int64_t>(toHost_.front().atUs - now));
    if (!toModule_.empty()) consider(static_cast<int64_t>(toModule_.front().atUs - now));
    // From the download command until the USB port has been away and back, the model alone
    // knows when it drops and returns: look every few milliseconds.
    if (options_.module.usb && model_->inLoader() && !transferBegan_) consider(kPortAwayTickUs);
    if (!pty_.up() && !model_->vanished()) consider(kPortAwayTickUs);
    if (pty_.slaveOpen() && masterRestUntilUs_ > now)
        consider(static_cast<int64_t>(masterRestUntilUs_ - now));
    if (transferBegan_ && pty_.up() && !pty_.slaveOpen())
        consider(static_cast<int64_t>(closedAtUs_ + kQuietAfterCloseUs) -
                 static_cast<int64_t>(now));
    return best;
}

int Simulator::run() {
    if (!setUp()) return 2;
    while (!stop_) {
        uint64_t now = nowUs();
        feedModule(now);
        followPortPresence(now);
        collectModuleBytes(now);
        deliverToHost(now);
        flushToMaster();
        if (const char* reason = updateEnded(now)) {
            endUpdate(reason, markOf(*model_, hostRates_.size()));
            if (options_.once) break;
            if (options_.restartAfterUpdateMs > 0) restartAfterUpdate(now);
            newModule();
            continue;
        }

        pollfd fds[4 + 16];  // a shim per tool process: 16 at a time is plenty
        nfds_t n = 0;
        fds[n++] = {signalFd_, POLLIN, 0};
        fds[n++] = {pty_.watchFd(), POLLIN, 0};
        const nfds_t masterAt = n;
        // A master without an open slave polls POLLHUP for ever: leave it out until the
        // next open (inotify tells), and rest it briefly when it hangs up before inotify
        // has told of the close.
        if (pty_.up() && pty_.slaveOpen() && masterRestUntilUs_ <= now)
            fds[n++] = {pty_.master(),
                        static_cast<short>(POLLIN | (unwritten_.empty() ? 0 : POLLOUT)), 0};
        const nfds_t sideAt = n;
        if (side_.listenFd() >= 0) fds[n++] = {side_.listenFd(), POLLIN, 0};
        const nfds_t clientsAt = n;
        for (int c : side_.clients())
            if (n < sizeof fds / sizeof fds[0]) fds[n++] = {c, POLLIN, 0};

        const int64_t wait = timeoutUs(now);
        timespec ts{wait / 1000000, static_cast<long>((wait % 1000000) * 1000)};
        if (ppoll(fds, n, wait < 0 ? nullptr : &ts, nullptr) < 0 && errno != EINTR) break;
        now = nowUs();

        if (fds[0].revents != 0) {
            signalfd_siginfo info;
            while (read(signalFd_, &info, sizeof info) == sizeof info)
                stop_ = true;
        }
        // Open/close first: a close makes the master poll POLLHUP in the same round.
        if (fds[1].revents != 0) pty_.drainEvents([&](bool opened) { slaveChanged(opened, now); });
        if (masterAt < sideAt && fds[masterAt].revents != 0 && pty_.up()) {
            if ((fds[masterAt].revents & POLLIN) != 0) readFromMaster(now);
            if ((fds[masterAt].revents & (POLLHUP | POLLERR)) != 0 &&
                (fds[masterAt].revents & POLLIN) == 0)
                masterRestUntilUs_ = now + kMasterRestUs;
        }
        for (nfds_t i = clientsAt; i < n; ++i)
            if (fds[i].revents != 0) serveSideChannel(fds[i].fd, now);
        if (sideAt < clientsAt && fds[sideAt].revents != 0) side_.accept();
    }
    // What the update under way has seen so far, unless it has not begun.
    if (!endedOnce_ || (!options_.once && model_->stats().restarts > begin_.restarts))
        endUpdate("stopped", markOf(*model_, hostRates_.size()));
    return anyDifference_ ? 1 : 0;
}

}  // namespace kestrel::sim
