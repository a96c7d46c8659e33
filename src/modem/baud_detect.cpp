#include "modem/baud_detect.h"

#include "modem/at_command.h"

namespace kestrel {

namespace {

constexpr int kSlots = 7;
constexpr int kPasses = 2;
// Slot 0 is the requested rate; the others are tried from the fastest down.
constexpr int32_t kFixedRates[kSlots] = {0, 460800, 230400, 115200, 57600, 38400, 19200};

// Switches the port to `rate` and probes there; the switch's result does not matter, only
// whether the module answers.
bool answersAt(SerialPort& port, int32_t rate) {
    port.setBaudRate(static_cast<uint32_t>(rate));
    return probeAtMode(port) == 1;
}

int32_t confirm(SerialPort& port, int32_t found, int32_t requested) {
    if (found == requested) return found;
    // The requested rate may just have missed the first probe: give it one more chance.
    if (answersAt(port, requested)) return requested;
    port.setBaudRate(static_cast<uint32_t>(found));
    return found;
}

}  // namespace

int32_t detectBaudRate(SerialPort& port, int32_t requestedRate) {
    for (int pass = 0; pass < kPasses; ++pass) {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (port.stopRequested()) return -1;  // the session is ending: no further probe
            int32_t candidate = kFixedRates[slot];
            if (slot == 0) {
                port.restartModule();
                candidate = requestedRate;
            } else if (candidate == requestedRate) {
                continue;
            }
            if (candidate == 0) continue;
            if (answersAt(port, candidate)) return confirm(port, candidate, requestedRate);
        }
    }
    return -1;
}

}  // namespace kestrel
