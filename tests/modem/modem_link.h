// Set-ups for the modem layer tests: a simulated module on COM1 over RS-232, the port open and
// the module restarted, so that the next AT command meets a booted module.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "modem/at_command.h"
#include "modem/dialogue_transcript.h"
#include "serial/serial_port.h"
#include "support/virtual_world.h"

namespace kestrel::test {

struct ModemLink {
    explicit ModemLink(sim::ModuleConfig config = {}, uint32_t portRate = 115200)
        : w(std::move(config)) {
        EXPECT_EQ(w.port.openPort("COM1", portRate, false), 1);
        w.port.restartModule();
        startMs = w.clock.elapsed();
        firstEvent = w.os.events.size();
    }

    struct Reply {
        int result;
        std::string text;
        uint32_t tookMs;
    };
    // sendAtCommand into a heap buffer of exactly `capacity` bytes, so that an overrun shows
    // up under the address sanitizer, filled with junk a call must not leave behind.
    Reply send(const char* command, unsigned capacity = kReplyCapacity) {
        std::vector<char> buffer(capacity, 'J');
        const uint32_t t0 = w.clock.elapsed();
        const int result = sendAtCommand(w.port, command, buffer.data(), capacity);
        const size_t length = strnlen(buffer.data(), capacity);
        EXPECT_LT(length, capacity) << "reply not terminated";
        return {result, std::string(buffer.data(), length), w.clock.elapsed() - t0};
    }

    // Writes made since the link was set up, with times relative to its start.
    std::vector<Event> writes() const {
        std::vector<Event> out;
        for (size_t i = firstEvent; i < w.os.events.size(); ++i)
            if (w.os.events[i].kind == Event::Kind::Write) {
                out.push_back(w.os.events[i]);
                out.back().atMs -= startMs;
            }
        return out;
    }

    // Everything still waiting in the port, read out now.
    std::string leftInPort() {
        std::string rest;
        uint8_t b = 0;
        while (w.port.readByteNow(&b))
            rest.push_back(static_cast<char>(b));
        return rest;
    }

    // Makes the module's line carry `bytes` `afterMs` from now.
    void moduleSends(const std::string& bytes, uint32_t afterMs, uint32_t rate = 0) {
        w.module.sendRaw(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                         w.clock.nowMs() + afterMs, rate);
    }

    VirtualWorld w;
    uint32_t startMs = 0;
    size_t firstEvent = 0;
};

}  // namespace kestrel::test
