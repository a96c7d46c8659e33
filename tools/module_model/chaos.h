// Seeded chaos for the simulated module: from one 64-bit seed, a module with its manners and
// faults, an image for it, the operator's choices and what the link does besides, so that a
// run that goes wrong can be played again from its seed alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module_model.h"

namespace kestrel::sim {

// SplitMix64: small, and the same numbers on every platform and compiler (the standard
// distributions are not).
class ChaosRandom {
  public:
    explicit ChaosRandom(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [lo, hi].
    uint32_t between(uint32_t lo, uint32_t hi);
    // True in `percent` of the calls.
    bool chance(uint32_t percent) { return between(0, 99) < percent; }
    template <typename T, size_t N>
    const T& pick(const T (&values)[N]) {
        return values[between(0, static_cast<uint32_t>(N - 1))];
    }

  private:
    uint64_t state_;
};

// The loader's answer to one send (attempt 0 is the first) of one record. Sends not listed
// are taken with 0x01.
struct ChaosAnswer {
    int block = 0;
    int attempt = 0;
    BlockAnswer answer;
};

// What the operator chose.
struct ChaosOperator {
    std::string portName;  // kChaosPortName is the module's port
    std::string rateText;
    bool usb = false;
    bool noFirmware = false;
    std::string firmwareName;
};

// What the link and the host do beyond the module; the transport carries it out.
struct ChaosLink {
    // Reads flagged with a line error, counted from the first read after the loader took the
    // download command (garbage and start byte alike).
    int lineErrorReads = 0;
    uint32_t substitutedRate = 0;  // asked for this rate, the device runs at substituteWith
    uint32_t substituteWith = 0;
    uint32_t refusedRate = 0;  // the device refuses this rate (0: none)
    bool modemStatusFails = false;
    bool lineErrorQueryFails = false;
    bool portClaimedElsewhere = false;  // another session holds the port's claim
    // A USB port that returns comes back under this name ("": its own) ...
    std::string usbReturnsAs;
    // ... or on another USB device: the old name is gone and nothing is found at its place.
    bool usbReturnsElsewhere = false;
    // The port is unplugged once the loader holds the whole image: the hand-back finds none.
    bool unplugWhenImageTaken = false;
    uint32_t clockStartMs = 1000;  // near 2^32 the session's waits span the clock's wrap
};

constexpr const char* kChaosPortName = "COM1";

struct ChaosPlan {
    uint64_t seed = 0;
    ModuleConfig module;  // answers follow `answers`; expectedRecords is the image
    std::vector<ChaosAnswer> answers;
    ChaosOperator op;
    ChaosLink link;

    const std::vector<std::vector<uint8_t>>& records() const { return module.expectedRecords; }
    // The plan in one line, for the report of a run that went wrong.
    std::string describe() const;
};

// Everything from the seed: the same seed gives the same plan on every machine.
ChaosPlan makeChaosPlan(uint64_t seed);

// The answer script of `answers` (a pure function of block and attempt).
AnswerScript chaosAnswerScript(std::vector<ChaosAnswer> answers);

}  // namespace kestrel::sim
