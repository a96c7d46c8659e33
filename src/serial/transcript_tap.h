// A serial device that records into a Transcript everything that passes through it to the
// device beneath: the tap that the transcript is made from. Every call reaches the inner
// device unchanged and returns what it returned; recording adds no more than a copy into the
// transcript's ring.
#pragma once

#include "serial/serial_os.h"
#include "serial/transcript.h"

namespace kestrel {

class TranscriptTap final : public SerialOs {
  public:
    // Both outlive the tap.
    TranscriptTap(SerialOs& inner, Transcript& transcript) : inner_(inner), t_(transcript) {}

    bool open(const char* name, SystemError* why) override;
    bool applySettings(const LineSettings& settings) override;
    bool readRate(uint32_t* rate) override;
    bool applyTimeouts() override;
    bool setDtr(bool on) override;
    bool readCts(bool* on) override;
    bool purge() override;
    bool dropInput() override;
    bool bytesWaiting(uint32_t* count) override;
    bool takeLineErrors(bool* any) override;
    bool readByte(uint8_t* byte, bool* got) override;
    uint32_t write(const uint8_t* bytes, uint32_t count) override;
    void close() override;

    // Bytes the device took so far, for a front end's progress (read on the session's thread).
    const uint64_t* bytesWritten() const { return &bytesWritten_; }

  private:
    SerialOs& inner_;
    Transcript& t_;
    uint64_t bytesWritten_ = 0;
};

}  // namespace kestrel
