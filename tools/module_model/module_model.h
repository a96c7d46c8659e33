// A simulated radio module: firmware that speaks AT commands, the loader that takes the
// firmware records, its DTR/CTS behaviour and its line rate.
//
// The model knows nothing of its transport. A transport (the unit tests' fake serial layer,
// or the simulator program behind a pseudo-terminal) hands it what the host does - bytes at
// the host's rate, DTR edges, port opens - together with the current millisecond, and takes
// from it the bytes the module sends, each due at a millisecond and sent at the module's rate.
// Times are 32-bit milliseconds compared by signed difference, so a wrapping clock works.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrel::sim {

// A byte the module puts on the wire.
struct WireByte {
    uint8_t value = 0;
    uint32_t rate = 0;       // the module's rate when it sent the byte; 0 over USB (no rate)
    bool lineError = false;  // flagged as received with a framing error
};

// What a byte looks like to a receiver running at `receiverRate`: unchanged at the sender's
// rate (or when it has none, as over USB), otherwise garbage (high-bit bytes, flagged as
// framing errors), as on a real wire.
WireByte receivedAs(const WireByte& sent, uint32_t receiverRate);

// The loader's answer to one record.
struct BlockAnswer {
    enum class Kind { Byte, Silence, Vanish };
    Kind kind = Kind::Byte;
    uint8_t value = 0x01;  // 0x01 next, 0x02 send again, anything else fatal
    int busyBefore = 0;    // 0x04 answers sent before `value`
    int repeats = 0;       // `value` sent this many more times (a bridge that doubles bytes)
    uint32_t delayMs = 0;  // this answer (busy run and all) comes this much later than usual
};
// Chooses the answer to the `attempt`-th send (0 first) of the record with `blockIndex`.
using AnswerScript = std::function<BlockAnswer(int blockIndex, int attempt)>;

struct ModuleConfig {
    // Firmware: a V.250 command parser (E, V, Q, +IPR) with the download and switch-off
    // commands. The power-on state is what a restart (DTR) brings back.
    bool firmwarePresent = true;  // false: boots into the loader, waiting for the command
    uint32_t rate = 115200;       // the configured rate (AT+IPR); 0 is autobaud (any rate)
    bool anyRate = false;         // the firmware answers at whatever rate the host uses
    bool echo = true;             // echo at power-on (E1)
    bool verbose = true;          // verbose result codes at power-on (V1); V0 gives "0\r"
    bool quiet = false;           // result codes suppressed at power-on (Q1)
    uint32_t bootMs = 200;        // DTR on to CTS on
    uint32_t replyDelayMs = 2;    // command line received to first result byte
    std::vector<std::string> refusedCommands;  // whole lines (upper case, no CR) -> ERROR
    // The reply (after the echo) to these whole lines (upper case, no CR), sent instead of the
    // information text and result code; the command still takes effect.
    std::map<std::string, std::string> replyFor;

    // Misbehaviour, each off by default.
    bool silent = false;             // hears everything, sends nothing (no echo, no results)
    bool neverEchoes = false;        // no echo, whatever ATE says
    bool echoTwice = false;          // after echoing a line, sends the whole line once more
    uint32_t lateAnswerMs = 0;       // everything, echo included, goes out this much later
    bool zeroBeforeOk = false;       // "\r\n", a zero byte, then "OK\r\n"
    bool okWithoutLf = false;        // verbose OK ends in "\r" alone
    int blankLinesBeforeInfo = 0;    // extra "\r\n" before an information line (+IPR:)
    std::string iprInfo;             // the +IPR? line without line ends; empty: "+IPR: <rate>"
    uint32_t pauseInInfoMs = 0;      // the information line's end and the result come this late
    std::string unsolicitedAfterOk;  // sent right behind every OK, e.g. "\r\n+CREG: 1\r\n"
    // The firmware ignores every command line (non-empty, ending in CR; counted from 1 over
    // the model's whole life, restarts included) before this one: no echo, no result.
    // 0 or 1: every line is answered.
    int firstAnsweredLine = 0;

    // Loader.
    uint32_t loaderRate = 57600;  // the rate a blind download command is heard at
    uint32_t startDelayMs = 50;   // loader entered (or USB port back and opened) to start byte
    std::vector<uint8_t> startPreamble;  // bytes sent before the start byte
    bool sendStartByte = true;
    uint32_t answerDelayMs = 1;                         // record received to its answer
    uint32_t busyGapMs = 4000;                          // between successive 0x04 answers
    AnswerScript answers;                               // empty: every record is answered 0x01
    std::vector<std::vector<uint8_t>> expectedRecords;  // records in full (length byte first)
    // USB virtual port: bytes pass at any rate; it drops off the bus usbDropMs after the OK
    // to the download command and comes back usbGoneMs later.
    bool usb = false;
    uint32_t usbDropMs = 200;
    uint32_t usbGoneMs = 3000;
};

struct ModuleStats {
    int recordsAccepted = 0;
    int resendsRequested = 0;
    int mismatchedRecords = 0;  // accepted records that differ from the expected ones
    int restarts = 0;
    std::vector<std::string> commandLines;       // every AT command line heard, without the CR
    std::vector<std::vector<uint8_t>> accepted;  // accepted records in full
};

class ModuleModel {
  public:
    explicit ModuleModel(ModuleConfig config = {});

    // --- what the host does ---
    // Bytes written by the host at `hostRate`.
    void receive(const uint8_t* bytes, size_t count, uint32_t hostRate, uint32_t nowMs);
    // DTR as driven by the host: a falling edge powers the module down, a rising edge boots it.
    // A USB module boots on its first DTR and ignores the line afterwards.
    void setDtr(bool on, uint32_t nowMs);
    // The host opened the port (after a USB port came back, the loader greets it).
    void hostOpened(uint32_t nowMs);
    // The host discarded everything the module sent up to now.
    void discardDue(uint32_t nowMs);

    // Makes the module send `bytes` at `dueMs`, at its current rate (or `rate` when given),
    // whatever its state: for tests that need particular bytes on the line.
    void sendRaw(const std::vector<uint8_t>& bytes, uint32_t dueMs, uint32_t rate = 0);

    // --- what the host sees ---
    bool cts(uint32_t nowMs) const;
    // Whether the module's port exists (a USB port vanishes for a while).
    bool portPresent(uint32_t nowMs) const;
    // The module has gone (a scripted vanish): its port is dead until a restart.
    bool vanished() const { return vanished_; }
    // When the next byte from the module is due; false when nothing is queued.
    bool nextByteDue(uint32_t* dueMs) const;
    // Takes the next queued byte (call only when one is due).
    WireByte takeByte();

    // --- for tests and the simulator's summary ---
    const ModuleStats& stats() const { return stats_; }
    const ModuleConfig& config() const { return config_; }
    // The rate the module currently listens and answers at (0 while off).
    uint32_t currentRate() const { return rate_; }
    bool inLoader() const { return state_ == State::Loader; }
    bool switchedOff() const { return state_ == State::SwitchedOff; }
    // What the module is doing, in a few words ("off", "running", "in its loader", ...).
    const char* stateName() const;
    // Whether every expected record was accepted once, in order, unchanged.
    bool imageComplete() const;

  private:
    // Halted: the loader gave a fatal answer and listens no more until restarted.
    // Dead: the module vanished for good (until the test ends).
    enum class State { Off, Firmware, LoaderWaiting, Loader, Halted, SwitchedOff, Dead };

    void boot(uint32_t nowMs);
    void send(const std::string& text, uint32_t dueMs);
    void sendByte(uint8_t value, uint32_t dueMs);
    void firmwareByte(uint8_t b, uint32_t nowMs);
    void handleCommandLine(const std::string& line, uint32_t nowMs);
    bool answersCurrentLine() const;
    bool followsHostRate() const { return config_.anyRate || config_.rate == 0; }
    std::string resultCode(bool ok) const;
    void sendInfoAndResult(const std::string& info, bool ok, uint32_t dueMs);
    void enterLoader(uint32_t rate, uint32_t nowMs, bool viaUsb);
    void scheduleStart(uint32_t dueMs);
    void loaderByte(uint8_t b, uint32_t nowMs);
    void recordComplete(uint32_t nowMs);
    static bool reached(uint32_t nowMs, uint32_t atMs) {
        return static_cast<int32_t>(nowMs - atMs) >= 0;
    }

    struct Queued {
        uint32_t dueMs;
        WireByte byte;
    };

    ModuleConfig config_;
    ModuleStats stats_;
    State state_ = State::Off;
    bool dtr_ = false;
    bool vanished_ = false;
    uint32_t rate_ = 0;
    uint32_t bootDoneMs_ = 0;
    bool echo_ = true;
    bool verbose_ = true;
    bool quiet_ = false;
    std::string line_;    // command line being received
    int linesHeard_ = 0;  // command lines heard by the firmware
    // USB port absence window.
    bool usbGone_ = false;
    uint32_t usbDropAtMs_ = 0;
    uint32_t usbBackMs_ = 0;
    bool awaitingHostOpen_ = false;
    // Loader.
    std::vector<uint8_t> record_;  // record being received, length byte first
    int blockIndex_ = 0;
    int attempt_ = 0;
    std::deque<Queued> out_;
};

}  // namespace kestrel::sim
