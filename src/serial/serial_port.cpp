#include "serial/serial_port.h"

#include "platform/clock.h"

namespace kestrel {

namespace {

// Longest name the device-namespace retry may produce: the 259-character field plus the
// four-character prefix, with room to spare for a platform's own mapping.
constexpr size_t kAltNameCapacity = 272;

struct PortState {
    SerialOs* os = nullptr;  // nullptr: the platform's own
    bool open = false;
    LineSettings settings;  // kept between operations, also while closed
};

PortState g_port;

SerialOs& os() {
    return g_port.os ? *g_port.os : platformSerialOs();
}

bool openUnderEitherName(const char* name) {
    if (os().open(name)) return true;
    char alt[kAltNameCapacity];
    if (!os().deviceNamespaceForm(name, alt, sizeof alt)) return false;
    return os().open(alt);
}

// One read attempt; `checked` drops a byte that came with a line error.
bool readAttempt(uint8_t* byte, bool checked) {
    uint8_t b = 0;
    bool got = false;
    bool ok = os().readByte(&b, &got) && got;
    if (checked) {
        bool anyError = false;
        // A failed query leaves the attempt as it was.
        if (os().takeLineErrors(&anyError) && anyError) ok = false;
    }
    if (ok) *byte = b;
    return ok;
}

int readPolled(uint8_t* byte, uint32_t timeoutMs, bool checked) {
    const uint32_t start = nowMs();
    for (;;) {
        sleepMs(0);
        // A closed port delivers nothing, but the caller's limit still applies.
        if (g_port.open && readAttempt(byte, checked)) return 1;
        if (elapsedSince(start) >= timeoutMs) return 0;
        if (!g_port.open) sleepMs(1);  // nothing to wait on in a device: don't spin
    }
}

}  // namespace

void setSerialOs(SerialOs* replacement) {
    g_port.os = replacement;
}

bool portIsOpen() {
    return g_port.open;
}

const LineSettings& portLineSettings() {
    return g_port.settings;
}

int openPort(const char* name, uint32_t rate, bool usbMode) {
    if (g_port.open || name == nullptr) return 0;
    if (!openUnderEitherName(name)) return 0;
    g_port.settings = makeLineSettings(rate, usbMode);
    if (!os().applySettings(g_port.settings) || !os().applyTimeouts()) {
        os().close();
        return 0;
    }
    g_port.open = true;
    purgePort();
    return 1;
}

void closePort() {
    if (!g_port.open) return;
    g_port.settings.dtrMode = LineMode::Disable;
    os().setDtr(false);
    os().close();
    g_port.open = false;
}

int purgePort() {
    if (!g_port.open) return 0;
    return os().purge() ? 1 : 0;
}

int setBaudRate(uint32_t rate) {
    if (!g_port.open) return 0;
    g_port.settings.rate = rate;
    if (!os().applySettings(g_port.settings)) return 0;
    uint32_t actual = 0;
    if (!os().readRate(&actual)) return 0;
    if (actual != rate) {
        g_port.settings.rate = actual;
        return 0;
    }
    // The module needs its DTR pulse after a rate change, and time before and after it.
    sleepMs(1500);
    os().setDtr(false);
    sleepMs(400);
    os().setDtr(true);
    sleepMs(500);
    return 1;
}

int restartModule() {
    g_port.settings.dtrMode = LineMode::Disable;
    if (g_port.open) os().setDtr(false);
    sleepMs(100);
    g_port.settings.dtrMode = LineMode::Enable;
    if (g_port.open) os().setDtr(true);
    sleepMs(300);
    return waitForCts(1, 15000);
}

int waitForCts(int level, uint32_t timeoutMs) {
    if (!g_port.open) return 0;
    const uint32_t start = nowMs();
    bool cts = false;
    if (!os().readCts(&cts)) return 0;
    for (;;) {
        // The line is tested before the time: a status that shows the awaited state wins
        // even at the limit.
        if (cts && level == 1) {
            sleepMs(100);
            return 1;
        }
        if (!cts && level == 0) {
            sleepMs(500);
            return 1;
        }
        if (elapsedSince(start) > timeoutMs) return 0;
        sleepMs(1);
        if (!os().readCts(&cts)) return 0;
    }
}

int readByteNow(uint8_t* byte) {
    if (!g_port.open) return 0;
    return readAttempt(byte, false) ? 1 : 0;
}

int readByteTimed(uint8_t* byte, uint32_t timeoutMs) {
    return readPolled(byte, timeoutMs, false);
}

int readByteChecked(uint8_t* byte, uint32_t timeoutMs) {
    return readPolled(byte, timeoutMs, true);
}

uint16_t writeBytes(const uint8_t* bytes, uint16_t count) {
    if (!g_port.open || count == 0) return 0;
    return static_cast<uint16_t>(os().write(bytes, count));
}

}  // namespace kestrel
