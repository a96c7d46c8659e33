#include "module_model.h"

#include <cctype>
#include <cstdlib>

namespace kestrel::sim {

WireByte receivedAs(const WireByte& sent, uint32_t receiverRate) {
    if (sent.rate == 0 || sent.rate == receiverRate) return sent;
    // Sampled at the wrong rate a byte turns into noise; keep it deterministic and clear of
    // ASCII so no garbage ever spells a result code.
    WireByte garbled;
    garbled.value = static_cast<uint8_t>(0x80 | ((sent.value * 37u + 11u) & 0x7F));
    garbled.rate = receiverRate;
    garbled.lineError = true;
    return garbled;
}

ModuleModel::ModuleModel(ModuleConfig config) : config_(std::move(config)) {
    echo_ = config_.echo;
    verbose_ = config_.verbose;
    quiet_ = config_.quiet;
}

// --- host side -------------------------------------------------------------------------

void ModuleModel::setDtr(bool on, uint32_t nowMs) {
    if (on == dtr_) return;
    dtr_ = on;
    if (state_ == State::Dead) return;
    // Over USB the restart line is not wired: the first DTR merely finds the module running.
    if (config_.usb && stats_.restarts > 0) return;
    if (!on) {
        // Powered down: whatever it had not sent yet is lost with it. A module that was
        // switched off stays so until DTR rises again.
        if (state_ != State::SwitchedOff) state_ = State::Off;
        rate_ = 0;
        while (!out_.empty() && !reached(nowMs, out_.back().dueMs))
            out_.pop_back();
        return;
    }
    boot(nowMs);
}

void ModuleModel::boot(uint32_t nowMs) {
    ++stats_.restarts;
    bootDoneMs_ = nowMs + config_.bootMs;
    echo_ = config_.echo;
    verbose_ = config_.verbose;
    quiet_ = config_.quiet;
    line_.clear();
    record_.clear();
    // New firmware is in place once the loader has accepted anything.
    if (config_.firmwarePresent || stats_.recordsAccepted > 0) {
        state_ = State::Firmware;
        rate_ = config_.rate;
    } else {
        state_ = State::LoaderWaiting;
        rate_ = config_.loaderRate;
    }
}

void ModuleModel::hostOpened(uint32_t nowMs) {
    if (awaitingHostOpen_ && reached(nowMs, usbBackMs_)) {
        awaitingHostOpen_ = false;
        scheduleStart(nowMs + config_.startDelayMs);
    }
}

void ModuleModel::discardDue(uint32_t nowMs) {
    while (!out_.empty() && reached(nowMs, out_.front().dueMs))
        out_.pop_front();
}

void ModuleModel::receive(const uint8_t* bytes, size_t count, uint32_t hostRate, uint32_t nowMs) {
    const bool booted = reached(nowMs, bootDoneMs_);
    for (size_t i = 0; i < count; ++i) {
        if (!booted) continue;  // still starting up: deaf
        // A USB port has no line rate: every byte passes as written.
        WireByte sent{bytes[i], config_.usb ? 0 : hostRate, false};
        switch (state_) {
            case State::Firmware: {
                if (followsHostRate()) rate_ = hostRate;
                WireByte heard = receivedAs(sent, rate_);
                firmwareByte(heard.value, nowMs);
                break;
            }
            case State::LoaderWaiting:
            case State::Loader: {
                WireByte heard = receivedAs(sent, rate_);
                if (state_ == State::LoaderWaiting)
                    firmwareByte(heard.value, nowMs);
                else
                    loaderByte(heard.value, nowMs);
                break;
            }
            default:
                break;
        }
    }
}

// --- host view -------------------------------------------------------------------------

bool ModuleModel::cts(uint32_t nowMs) const {
    if (state_ == State::Off || state_ == State::SwitchedOff || state_ == State::Dead) return false;
    return reached(nowMs, bootDoneMs_);
}

bool ModuleModel::portPresent(uint32_t nowMs) const {
    if (vanished_ && config_.usb) return false;
    return !usbGone_ || !reached(nowMs, usbDropAtMs_) || reached(nowMs, usbBackMs_);
}

bool ModuleModel::nextByteDue(uint32_t* dueMs) const {
    if (out_.empty()) return false;
    *dueMs = out_.front().dueMs;
    return true;
}

WireByte ModuleModel::takeByte() {
    WireByte b = out_.front().byte;
    out_.pop_front();
    return b;
}

const char* ModuleModel::stateName() const {
    switch (state_) {
        case State::Off:
            return "off";
        case State::Firmware:
            return "running";
        case State::LoaderWaiting:
            return "waiting for the download command";
        case State::Loader:
            return "in its loader";
        case State::Halted:
            return "halted";
        case State::SwitchedOff:
            return "switched off";
        case State::Dead:
            return "gone";
    }
    return "?";
}

bool ModuleModel::imageComplete() const {
    return stats_.mismatchedRecords == 0 &&
           stats_.accepted.size() == config_.expectedRecords.size() &&
           stats_.accepted == config_.expectedRecords;
}

// --- sending ---------------------------------------------------------------------------

void ModuleModel::sendByte(uint8_t value, uint32_t dueMs) {
    // Bytes leave in order: nothing may overtake a byte queued earlier.
    if (!out_.empty() && !reached(dueMs, out_.back().dueMs)) dueMs = out_.back().dueMs;
    out_.push_back({dueMs, WireByte{value, config_.usb ? 0 : rate_, false}});
}

void ModuleModel::sendRaw(const std::vector<uint8_t>& bytes, uint32_t dueMs, uint32_t rate) {
    if (!out_.empty() && !reached(dueMs, out_.back().dueMs)) dueMs = out_.back().dueMs;
    const uint32_t wireRate = rate != 0 ? rate : (config_.usb ? 0 : rate_);
    for (uint8_t b : bytes)
        out_.push_back({dueMs, WireByte{b, wireRate, false}});
}

void ModuleModel::send(const std::string& text, uint32_t dueMs) {
    for (char c : text)
        sendByte(static_cast<uint8_t>(c), dueMs);
}

// --- firmware: AT commands -------------------------------------------------------------

bool ModuleModel::answersCurrentLine() const {
    return state_ == State::Firmware && !config_.silent &&
           linesHeard_ + 1 >= config_.firstAnsweredLine;
}

void ModuleModel::firmwareByte(uint8_t b, uint32_t nowMs) {
    // Echo goes out byte by byte as heard, in the echo state from before the line runs.
    if (answersCurrentLine() && echo_ && !config_.neverEchoes)
        sendByte(b, nowMs + config_.lateAnswerMs);
    if (b == '\r') {
        std::string line;
        line.swap(line_);
        handleCommandLine(line, nowMs);
        return;
    }
    if (b == '\n') return;
    if (line_.size() < 512) line_.push_back(static_cast<char>(b));
}

namespace {

bool isModuleRate(uint32_t rate) {
    static const uint32_t kRates[] = {0,     300,   1200,   2400,   4800,   9600,  19200,
                                      38400, 57600, 115200, 230400, 460800, 921600};
    for (uint32_t r : kRates)
        if (r == rate) return true;
    return false;
}

std::string upper(const std::string& s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// Reads an unsigned decimal number at `pos`; false when there is none.
bool parseNumber(const std::string& s, size_t& pos, uint32_t* value) {
    if (pos >= s.size() || !std::isdigit(static_cast<unsigned char>(s[pos]))) return false;
    uint64_t v = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        v = v * 10 + static_cast<uint64_t>(s[pos++] - '0');
        if (v > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::string ModuleModel::resultCode(bool ok) const {
    if (quiet_) return {};
    if (!verbose_) return ok ? "0\r" : "4\r";
    if (!ok) return "\r\nERROR\r\n";
    std::string text = "\r\n";
    if (config_.zeroBeforeOk) text.push_back('\0');
    text += config_.okWithoutLf ? "OK\r" : "OK\r\n";
    return text;
}

void ModuleModel::sendInfoAndResult(const std::string& info, bool ok, uint32_t dueMs) {
    // Settings changed by the line already shape its own result.
    std::string out;
    if (!info.empty()) {
        if (verbose_) {
            for (int i = 0; i < config_.blankLinesBeforeInfo; ++i)
                out += "\r\n";
            out += "\r\n";
        }
        send(out + info, dueMs);
        out = "\r\n";
        dueMs += config_.pauseInInfoMs;
    }
    out += resultCode(ok);
    if (ok) out += config_.unsolicitedAfterOk;
    send(out, dueMs);
}

void ModuleModel::handleCommandLine(const std::string& rawLine, uint32_t nowMs) {
    if (rawLine.empty()) return;
    stats_.commandLines.push_back(rawLine);
    const std::string line = upper(rawLine);

    if (state_ == State::LoaderWaiting) {
        // The loader understands nothing but the download command, and answers it with its
        // start signal rather than a result code.
        if (line == "AT^SFDL") enterLoader(rate_, nowMs, false);
        return;
    }
    const bool answering = answersCurrentLine();
    const bool echoed = echo_ && !config_.neverEchoes;
    ++linesHeard_;
    if (!answering) return;
    const uint32_t due = nowMs + config_.lateAnswerMs + config_.replyDelayMs;
    if (config_.echoTwice && echoed) send(rawLine + "\r", nowMs + config_.lateAnswerMs);

    // Whatever came before the "AT" prefix is line noise; a line without it is no command.
    const size_t prefix = line.find("AT");
    if (prefix == std::string::npos) return;
    const std::string command = line.substr(prefix);
    bool ok = true;
    for (const std::string& refused : config_.refusedCommands)
        if (command == refused) ok = false;

    std::string info;
    uint32_t newRate = 0;
    bool setRate = false;
    bool download = false;
    bool switchOff = false;
    size_t pos = 2;
    while (ok && pos < command.size()) {
        const char c = command[pos];
        if (c == 'E' || c == 'V' || c == 'Q') {
            ++pos;
            uint32_t v = 0;
            if (!parseNumber(command, pos, &v)) v = 0;
            if (v > 1) {
                ok = false;
            } else if (c == 'E') {
                echo_ = (v == 1);
            } else if (c == 'V') {
                verbose_ = (v == 1);
            } else {
                quiet_ = (v == 1);
            }
        } else if (command.compare(pos, 5, "+IPR?") == 0) {
            pos += 5;
            info =
                config_.iprInfo.empty() ? "+IPR: " + std::to_string(config_.rate) : config_.iprInfo;
        } else if (command.compare(pos, 5, "+IPR=") == 0) {
            pos += 5;
            // Like a real module, it refuses a rate it cannot run at (0 is autobaud).
            ok = parseNumber(command, pos, &newRate) && isModuleRate(newRate);
            setRate = ok;
        } else if (command.compare(pos, 5, "^SFDL") == 0) {
            pos += 5;
            download = true;
        } else if (command.compare(pos, 5, "^SMSO") == 0) {
            pos += 5;
            switchOff = true;
        } else {
            ok = false;
        }
    }
    const auto scripted = config_.replyFor.find(command);
    if (ok && scripted != config_.replyFor.end())
        send(scripted->second, due);
    else
        sendInfoAndResult(ok ? info : std::string(), ok, due);
    if (!ok) return;
    if (setRate) {
        // The result still goes out at the old rate; the move follows it.
        config_.rate = newRate;
        if (!followsHostRate()) rate_ = newRate;
    }
    if (switchOff) state_ = State::SwitchedOff;
    if (download) enterLoader(rate_, due, config_.usb);
}

// --- loader ----------------------------------------------------------------------------

void ModuleModel::enterLoader(uint32_t rate, uint32_t nowMs, bool viaUsb) {
    state_ = State::Loader;
    rate_ = rate;
    record_.clear();
    blockIndex_ = 0;
    attempt_ = 0;
    if (viaUsb) {
        // The USB port drops off the bus while the module switches, and comes back later.
        usbGone_ = true;
        usbDropAtMs_ = nowMs + config_.usbDropMs;
        usbBackMs_ = usbDropAtMs_ + config_.usbGoneMs;
        awaitingHostOpen_ = true;
        return;
    }
    scheduleStart(nowMs + config_.startDelayMs);
}

void ModuleModel::scheduleStart(uint32_t dueMs) {
    for (uint8_t b : config_.startPreamble)
        sendByte(b, dueMs);
    if (config_.sendStartByte) sendByte(0x01, dueMs);
}

void ModuleModel::loaderByte(uint8_t b, uint32_t nowMs) {
    record_.push_back(b);
    if (record_.size() == static_cast<size_t>(record_[0]) + 1) recordComplete(nowMs);
}

void ModuleModel::recordComplete(uint32_t nowMs) {
    std::vector<uint8_t> record;
    record.swap(record_);
    BlockAnswer answer;
    if (config_.answers) answer = config_.answers(blockIndex_, attempt_);
    uint32_t due = nowMs + config_.answerDelayMs + answer.delayMs;
    for (int i = 0; i < answer.busyBefore; ++i) {
        sendByte(0x04, due);
        due += config_.busyGapMs;
    }
    switch (answer.kind) {
        case BlockAnswer::Kind::Silence:
            return;
        case BlockAnswer::Kind::Vanish:
            vanished_ = true;
            state_ = State::Dead;
            return;
        case BlockAnswer::Kind::Byte:
            break;
    }
    for (int i = 0; i <= answer.repeats; ++i)
        sendByte(answer.value, due);
    if (answer.value == 0x01) {
        const size_t index = stats_.accepted.size();
        if (index >= config_.expectedRecords.size() || config_.expectedRecords[index] != record)
            ++stats_.mismatchedRecords;
        stats_.accepted.push_back(std::move(record));
        ++stats_.recordsAccepted;
        ++blockIndex_;
        attempt_ = 0;
    } else if (answer.value == 0x02) {
        ++stats_.resendsRequested;
        ++attempt_;
    } else if (answer.value != 0x04) {
        state_ = State::Halted;
    }
}

}  // namespace kestrel::sim
