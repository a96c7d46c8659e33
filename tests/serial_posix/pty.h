// A pseudo-terminal pair made by the test: the driver opens the slave as its serial port,
// the test plays the far end through the master.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::test {

class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const char* slavePath() const { return slavePath_.c_str(); }

    // Hangs the line up: the slave's reads see POLLHUP and its writes fail.
    void closeMaster();

    // Writes every byte to the master, waiting for room; false after `timeoutMs`.
    bool send(const uint8_t* bytes, size_t count, int timeoutMs = 1000);
    // Reads from the master until `want` bytes arrived or `timeoutMs` passed.
    size_t receive(uint8_t* out, size_t want, int timeoutMs = 1000);

  private:
    int master_ = -1;
    std::string slavePath_;
};

// The input and output rate the slave runs at, as the master sees it (TCGETS2).
bool slaveRates(int masterFd, uint32_t* inputRate, uint32_t* outputRate);
// Gives the slave a separate input rate of 38400, as another program may leave it.
bool leaveStaleInputRate(int masterFd);

// Number of open descriptors of this process.
int openDescriptorCount();

// Wall and process CPU time in milliseconds.
double wallMs();
double cpuMs();

}  // namespace kestrel::test
