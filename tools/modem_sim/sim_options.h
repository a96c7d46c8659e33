// kestrel-modem-sim's command line: where to put the port, how the module behaves, what to
// expect.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "module_model.h"

namespace kestrel::sim {

// Scripted answers of the loader; block numbers count from 0 like the tool's messages.
struct BlockFaults {
    int nakEvery = 0;   // every n-th block (n, 2n, ...: block index + 1 divisible by n) ...
    int nakCount = 1;   // ... is answered 0x02 this many times before it is taken
    int busyAt = -1;    // this block is answered 0x04 ...
    int busyCount = 1;  // ... this many times before 0x01
    int fatalAt = -1;   // this block is answered with `fatalByte` ...
    uint8_t fatalByte = 0x15;
    int silentAt = -1;     // this block is never answered
    int vanishAt = -1;     // the module disappears, its port with it, on receiving this block
    int doubleAckAt = -1;  // this block's 0x01 is sent twice, back to back
};

struct SimOptions {
    std::string link;         // symlink to the pty's slave
    bool once = false;        // end after one update
    bool pace = false;        // bytes take their wire time
    std::string imagePath;    // image (or program with an image appended) to expect
    std::string sideChannel;  // socket path for the modem-line shim; empty: none
    // A simulated device tree in this folder (sys/ and dev/, the port at dev/ttyACM0 on a
    // USB device); empty: none. Set instead of `link`, which then points into it.
    std::string deviceTree;
    std::string ttyName = "ttyACM0";  // the port's name in the device tree
    std::string usbSerial;            // the USB device's serial number there; empty: none
    std::string returnAs;             // a USB port comes back under this name, in the same folder
    bool returnElsewhere = false;     // ... and on another USB device
    // After each update the module restarts: its port leaves and returns this many ms later,
    // the module running its firmware. 0: it stays.
    uint32_t restartAfterUpdateMs = 0;
    ModuleConfig module;
    BlockFaults faults;
};

enum class ParseOutcome { Run, Help, Error };

// Parses argv[1..]. On Error `error` says why.
ParseOutcome parseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);

void printSimUsage(FILE* out);

// The loader's answers for `faults`.
AnswerScript makeAnswerScript(const BlockFaults& faults);

}  // namespace kestrel::sim
