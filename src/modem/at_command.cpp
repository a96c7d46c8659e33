#include "modem/at_command.h"

#include <cstring>

namespace kestrel {

namespace {

constexpr uint32_t kFirstByteBudgetMs = 5000;
constexpr uint32_t kIdlePollMs = 10;
constexpr uint32_t kSettleAfterFirstByteMs = 50;
constexpr uint32_t kBeforeSendMs = 50;
constexpr uint32_t kProbeWaitMs = 200;
constexpr unsigned kProbeCapacity = 2000;

// Appends bytes from the port until a gap, until `capacity` - 1 bytes are held (the byte
// read at the limit is dropped), or - with `stopAtOk` - right behind the first "OK\r\n".
void collect(SerialPort& port, char* text, size_t length, unsigned capacity, bool stopAtOk) {
    uint8_t b = 0;
    while (port.readByteNow(&b)) {
        if (length >= capacity - 1) break;
        text[length++] = static_cast<char>(b);
        text[length] = '\0';
        // A zero byte ends the text for every later search, just as for the callers.
        if (stopAtOk && length >= 4 && std::memcmp(text + length - 4, "OK\r\n", 4) == 0 &&
            std::strlen(text) == length)
            break;
    }
    text[length] = '\0';
}

}  // namespace

bool containsOk(const char* text) {
    return std::strstr(text, "OK\r\n") != nullptr;
}

int readReply(SerialPort& port, const char* command, char* reply, unsigned capacity,
              bool stopAtOk) {
    reply[0] = '\0';
    Clock& clock = port.clock();
    const uint32_t start = clock.nowMs();
    const char* echo = command;
    uint8_t b = 0;
    for (;;) {
        if (clock.elapsedSince(start) >= kFirstByteBudgetMs || port.stopRequested()) return 0;
        if (!port.readByteNow(&b)) {
            clock.sleepMs(kIdlePollMs);
            continue;
        }
        // The echo is matched strictly in order; the first byte that is not the next
        // expected character starts the reply.
        if (*echo != '\0' && b == static_cast<uint8_t>(*echo)) {
            ++echo;
            continue;
        }
        break;
    }
    reply[0] = static_cast<char>(b);
    reply[1] = '\0';
    clock.sleepMs(kSettleAfterFirstByteMs);
    collect(port, reply, 1, capacity, stopAtOk);
    return 1;
}

int sendAtCommand(SerialPort& port, const char* command, char* reply, unsigned capacity) {
    const uint16_t length = static_cast<uint16_t>(strnlen(command, 0xFFFF));
    for (int send = 0; send < 2; ++send) {
        port.clock().sleepMs(kBeforeSendMs);
        port.writeBytes(reinterpret_cast<const uint8_t*>(command), length);
        // Only silence earns a second send; a wrong answer is final.
        if (readReply(port, command, reply, capacity, true)) return containsOk(reply) ? 1 : 0;
    }
    return 0;
}

int probeAtMode(SerialPort& port) {
    static const char kProbe[] = "ATE1V1Q0\r";
    port.purgePort();
    port.writeBytes(reinterpret_cast<const uint8_t*>(kProbe), sizeof kProbe - 1);
    port.clock().sleepMs(kProbeWaitMs);
    char text[kProbeCapacity];
    collect(port, text, 0, kProbeCapacity, false);
    return containsOk(text) ? 1 : 0;
}

}  // namespace kestrel
