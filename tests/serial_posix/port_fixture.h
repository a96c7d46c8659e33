// Every test drives the real driver (serial_port.h) on the platform's own serial layer
// against a fresh pty, and leaves the port closed and the system clock in place.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "serial_posix/pty.h"

namespace kestrel::test {

// Virtual time that moves only when the code waits.
class StepClock final : public Clock {
  public:
    uint32_t nowMs() override { return now_; }
    void sleepMs(uint32_t ms) override { now_ += ms; }

  private:
    uint32_t now_ = 0;
};

class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setSerialOs(nullptr);
        ASSERT_TRUE(pty_.ok());
    }
    void TearDown() override {
        closePort();
        setClock(nullptr);
    }

    Pty pty_;
};

}  // namespace kestrel::test
