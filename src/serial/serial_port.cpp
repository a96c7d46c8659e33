#include "serial/serial_port.h"

namespace kestrel {

// One read attempt; `checked` drops a byte that came with a line error.
bool SerialPort::readAttempt(uint8_t* byte, bool checked) {
    uint8_t b = 0;
    bool got = false;
    bool ok = os_.readByte(&b, &got) && got;
    if (checked) {
        bool anyError = false;
        // A failed query leaves the attempt as it was.
        if (os_.takeLineErrors(&anyError) && anyError) ok = false;
    }
    if (ok) *byte = b;
    return ok;
}

int SerialPort::readPolled(uint8_t* byte, uint32_t timeoutMs, bool checked) {
    const uint32_t start = clock_.nowMs();
    for (;;) {
        if (stopRequested()) return 0;
        clock_.sleepMs(0);
        // A closed port delivers nothing, but the caller's limit still applies.
        if (open_ && readAttempt(byte, checked)) return 1;
        if (clock_.elapsedSince(start) >= timeoutMs) return 0;
        if (!open_) clock_.sleepMs(1);  // nothing to wait on in a device: don't spin
    }
}

int SerialPort::openPort(const char* name, uint32_t rate, bool usbMode) {
    if (open_ || name == nullptr) return 0;
    error_.clear();
    if (!os_.open(name, &error_)) return 0;
    settings_ = makeLineSettings(rate, usbMode);
    if (!os_.applySettings(settings_) || !os_.applyTimeouts()) {
        error_.set(0, name, "the port refused its line settings");
        os_.close();
        return 0;
    }
    open_ = true;
    purgePort();
    return 1;
}

void SerialPort::closePort() {
    if (!open_) return;
    settings_.dtrOn = false;
    os_.setDtr(false);
    os_.close();
    open_ = false;
}

int SerialPort::purgePort() {
    if (!open_) return 0;
    return os_.purge() ? 1 : 0;
}

int SerialPort::dropInput() {
    if (!open_) return 0;
    return os_.dropInput() ? 1 : 0;
}

int SerialPort::inputWaiting() {
    uint32_t count = 0;
    return open_ && os_.bytesWaiting(&count) && count > 0 ? 1 : 0;
}

int SerialPort::setBaudRate(uint32_t rate) {
    if (!open_ || stopRequested()) return 0;
    settings_.rate = rate;
    if (!os_.applySettings(settings_)) return 0;
    uint32_t actual = 0;
    if (!os_.readRate(&actual)) return 0;
    if (actual != rate) {
        settings_.rate = actual;
        return 0;
    }
    // The module needs its DTR pulse after a rate change, and time before and after it.
    clock_.sleepMs(1500);
    os_.setDtr(false);
    clock_.sleepMs(400);
    os_.setDtr(true);
    clock_.sleepMs(500);
    return 1;
}

int SerialPort::restartModule() {
    // A restart is a command to the module: a stopped session gives none.
    if (stopRequested()) return 0;
    settings_.dtrOn = false;
    if (open_) os_.setDtr(false);
    clock_.sleepMs(100);
    settings_.dtrOn = true;
    if (open_) os_.setDtr(true);
    clock_.sleepMs(300);
    return waitForCts(1, 15000);
}

int SerialPort::waitForCts(int level, uint32_t timeoutMs) {
    if (!open_) return 0;
    const uint32_t start = clock_.nowMs();
    bool cts = false;
    if (!os_.readCts(&cts)) return 0;
    for (;;) {
        // The line is tested before the time: a status that shows the awaited state wins
        // even at the limit.
        if (cts && level == 1) {
            clock_.sleepMs(100);
            return 1;
        }
        if (!cts && level == 0) {
            clock_.sleepMs(500);
            return 1;
        }
        if (clock_.elapsedSince(start) > timeoutMs || stopRequested()) return 0;
        clock_.sleepMs(1);
        if (!os_.readCts(&cts)) return 0;
    }
}

int SerialPort::readByteNow(uint8_t* byte) {
    if (!open_) return 0;
    return readAttempt(byte, false) ? 1 : 0;
}

int SerialPort::readByteTimed(uint8_t* byte, uint32_t timeoutMs) {
    return readPolled(byte, timeoutMs, false);
}

int SerialPort::readByteChecked(uint8_t* byte, uint32_t timeoutMs) {
    return readPolled(byte, timeoutMs, true);
}

uint16_t SerialPort::writeBytes(const uint8_t* bytes, uint16_t count) {
    if (!open_ || count == 0 || stopRequested()) return 0;
    return static_cast<uint16_t>(os_.write(bytes, count));
}

}  // namespace kestrel
