// The serial port driver: one serial device, its line settings kept between operations, its
// modem-control lines and its byte-level reads and writes. Results are 1 for success and 0
// for failure unless stated; every operation on a port that is not open fails without
// touching any device, and closePort() is harmless in any state. One object per session,
// used by that session's thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/system_error.h"
#include "serial/line_settings.h"
#include "serial/serial_os.h"

namespace kestrel {

class SerialPort {
  public:
    // Talks to the device through `os` and waits on `clock`; both outlive the port.
    SerialPort(SerialOs& os, Clock& clock) : os_(os), clock_(clock) {}
    ~SerialPort() { closePort(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port the operator named `name`; applies the line settings (DTR on only when
    // `usbMode`), the 5 ms read timeout, and purges. Call only while the port is not open.
    // 1 when open, 0 with the port left not open and the reason in lastError().
    int openPort(const char* name, uint32_t rate, bool usbMode);

    // Drops DTR (recording the disabled mode) and releases the device. No-op when not open.
    void closePort();

    // Discards buffered bytes both ways. 1 or 0.
    int purgePort();

    // Discards the bytes received and not yet read (a stray answer must not pass for the
    // answer to what is written next). 1 or 0.
    int dropInput();

    // 1 when at least one received byte waits to be read right now (no wait), else 0.
    int inputWaiting();

    // Switches the rate, verifies it by reading it back, then settles: 1500 ms, DTR off
    // 400 ms, DTR on, 500 ms. 0 at once (no waits, no pulse) when refused or when the device
    // runs at another rate, which then becomes the recorded rate.
    int setBaudRate(uint32_t rate);

    // Restarts the module: DTR off 100 ms, DTR on, 300 ms, then waits up to 15000 ms for
    // CTS. Returns the CTS wait's result; performs its waits even on a port that is not open.
    int restartModule();

    // Polls CTS every 1 ms until it shows `level` (1 on, 0 off), then settles 100 ms (on) or
    // 500 ms (off) and returns 1; 0 after `timeoutMs`, or at once when the status cannot be
    // read.
    int waitForCts(int level, uint32_t timeoutMs);

    // One read of one byte (at most 5 ms). 1 when a byte was stored in `*byte`.
    int readByteNow(uint8_t* byte);

    // Yields and reads until a byte arrives or `timeoutMs` has passed; at least one attempt.
    int readByteTimed(uint8_t* byte, uint32_t timeoutMs);

    // As readByteTimed(), but a byte received with a line error is dropped and polling goes on.
    int readByteChecked(uint8_t* byte, uint32_t timeoutMs);

    // One blocking write of `count` bytes; returns how many the device took (0 when not open).
    uint16_t writeBytes(const uint8_t* bytes, uint16_t count);

    // While `*flag` is set the port stops waiting and sending: timed reads and the CTS wait
    // return 0 at once, setBaudRate() and restartModule() change nothing and return 0, and
    // writes are refused. Closing still works. nullptr (the default): never stopped. The flag
    // may be set from another thread or a signal handler.
    void watchStop(const std::atomic<bool>* flag) { stop_ = flag; }
    bool stopRequested() const { return stop_ != nullptr && stop_->load(); }

    bool portIsOpen() const { return open_; }
    const LineSettings& portLineSettings() const { return settings_; }
    // Why the last openPort() failed.
    const SystemError& lastError() const { return error_; }
    // The clock every wait of this port, and of the dialogue over it, goes through.
    Clock& clock() const { return clock_; }

  private:
    bool readAttempt(uint8_t* byte, bool checked);
    int readPolled(uint8_t* byte, uint32_t timeoutMs, bool checked);

    SerialOs& os_;
    Clock& clock_;
    bool open_ = false;
    LineSettings settings_;  // kept between operations, also while closed
    SystemError error_;
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace kestrel
