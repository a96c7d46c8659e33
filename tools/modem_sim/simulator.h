// kestrel-modem-sim's event loop: the module model on one side, a real pty (and the shim's
// side channel) on the other, in real time.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "modem_sim/pty_port.h"
#include "modem_sim/side_channel.h"
#include "modem_sim/sim_options.h"
#include "modem_sim/update_summary.h"
#include "modem_sim/usb_device_tree.h"
#include "module_model.h"

namespace kestrel::sim {

class Simulator {
  public:
    // `expected` is null when no image was given.
    Simulator(SimOptions options, const std::vector<std::vector<uint8_t>>* expected);

    // Serves until a signal (or, with --once, until one update has ended). Returns the exit
    // code: 0, 1 when an update's records differed from the image, 2 on setup errors.
    int run();

  private:
    struct OutByte {
        uint64_t atUs;  // when it has fully arrived at the tool's end
        WireByte byte;
    };
    struct InByte {
        uint64_t atUs;  // when it has fully arrived at the module
        uint8_t value;
        uint32_t rate;
    };

    uint64_t nowUs() const;
    static uint32_t ms(uint64_t us) { return static_cast<uint32_t>(us / 1000); }
    uint64_t wireTimeUs(uint32_t rate) const;
    uint32_t hostRate() const;

    bool setUp();
    bool bringUpPort(std::string* error);
    void newModule();
    void endUpdate(const char* reason, const StatsMark& at);
    void anotherUpdateBegan();
    void followPortPresence(uint64_t now);
    void restartAfterUpdate(uint64_t now);
    void feedModule(uint64_t now);
    void collectModuleBytes(uint64_t now);
    void deliverToHost(uint64_t now);
    void flushToMaster();
    void readFromMaster(uint64_t now);
    void hostBytes(const uint8_t* bytes, size_t count, uint64_t now);
    void giveToModule(const uint8_t* bytes, size_t count, uint32_t rate, uint64_t now);
    void slaveChanged(bool opened, uint64_t now);
    void serveSideChannel(int client, uint64_t now);
    const char* updateEnded(uint64_t now);
    int64_t timeoutUs(uint64_t now) const;

    SimOptions options_;
    const std::vector<std::vector<uint8_t>>* expected_;
    std::unique_ptr<ModuleModel> model_;
    PtyPort pty_;
    UsbDeviceTree tree_;           // with --device-tree only
    std::string link_;             // where the port is published now
    int usbPort_ = 2;              // the port's USB device in the tree: <bus>-<usbPort_>
    bool returned_ = false;        // the port up now came back after leaving ...
    bool returnedOpened_ = false;  // ... and the tool has opened it
    uint64_t restartBackUs_ = 0;   // a port away for a restart returns no sooner
    SideChannel side_;
    int signalFd_ = -1;
    uint64_t startUs_ = 0;
    bool stop_ = false;

    std::deque<OutByte> toHost_;   // module bytes on the wire
    std::deque<InByte> toModule_;  // host bytes on the wire (paced only)
    std::string unwritten_;        // for the master, not yet taken by the pty
    uint64_t outLineFreeUs_ = 0;
    uint64_t inLineFreeUs_ = 0;
    uint32_t lastRate_ = 115200;
    uint32_t frameErrors_ = 0;  // bytes handed over at a rate other than they were sent at

    uint64_t masterRestUntilUs_ = 0;   // hang-up seen: the master stays out of poll() till then
    bool transferBegan_ = false;       // the host has sent bytes to the loader
    bool switchedOff_ = false;         // the module heard the switch-off command
    uint64_t closedAtUs_ = 0;          // when the host last closed the port
    std::vector<uint32_t> hostRates_;  // rates the host's bytes came at, each change once ...
    size_t rateFloor_ = 0;             // ... from here on (where an update may begin)
    bool anyDifference_ = false;
    bool endedOnce_ = false;

    // The module outlives a tool that died: its counts are split where the next tool began.
    StatsMark begin_;        // where the current update's counts begin
    bool reopened_ = false;  // the port was opened again since the transfer began ...
    StatsMark reopen_;       // ... here, before the open took effect
};

}  // namespace kestrel::sim
