// The AT dialogue against whatever a module may send: bytes in bursts at fuzzed moments
// (echo, garbage, zero bytes, results cut short or late), in virtual time. The reply stays
// within its buffer and is a run of what was sent, the verdict is the "OK\r\n" rule, the
// waits stay within their limits, and a "+IPR: " rate is read from where the reply has it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "modem/at_command.h"
#include "modem/module_commands.h"
#include "modem/rate_text.h"
#include "support/virtual_world.h"

namespace {

using kestrel::test::VirtualWorld;

struct Burst {
    uint32_t afterMs;  // since the port was opened
    std::string bytes;
};

// A module that sends nothing by itself (it is never switched on), only the bursts.
void schedule(VirtualWorld& world, const std::vector<Burst>& bursts) {
    FUZZ_CHECK(world.port.openPort("COM1", 115200, false) == 1);
    const uint32_t opened = world.clock.nowMs();
    for (const Burst& b : bursts)
        world.module.sendRaw(std::vector<uint8_t>(b.bytes.begin(), b.bytes.end()),
                             opened + b.afterMs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kCommands[] = {"AT+IPR?\r", "AT^SFDL\r", "AT+IPR=115200\r",
                                            "ATE1V1Q0\r"};
    FuzzedDataProvider in(data, size);
    const int operation = in.ConsumeIntegralInRange(0, 3);
    const char* command = in.PickValueInArray(kCommands);
    const unsigned capacity = in.ConsumeIntegralInRange<unsigned>(2, kestrel::kReplyCapacity);
    const bool stopAtOk = in.ConsumeBool();
    std::vector<Burst> bursts;
    std::string stream;
    uint32_t at = 0;
    while (bursts.size() < 8 && in.remaining_bytes() > 0) {
        at += in.ConsumeIntegralInRange<uint32_t>(0, 6000);
        bursts.push_back({at, in.ConsumeRandomLengthString(120)});
        stream += bursts.back().bytes;
    }
    // Every byte of the module can cost one read timeout; the rest are the dialogue's waits.
    const uint32_t reading = 5 * (static_cast<uint32_t>(stream.size()) + 4);

    VirtualWorld world;
    schedule(world, bursts);
    const uint32_t start = world.clock.nowMs();
    char reply[kestrel::kReplyCapacity + 1];
    std::memset(reply, 0x5A, sizeof reply);
    switch (operation) {
        case 0: {  // sendAtCommand: at most two sends, a wrong answer is final
            const int ok =
                kestrel::sendAtCommand(world.port, command, reply, kestrel::kReplyCapacity);
            FUZZ_CHECK(strnlen(reply, kestrel::kReplyCapacity) < kestrel::kReplyCapacity);
            FUZZ_CHECK(ok == (kestrel::containsOk(reply) ? 1 : 0));
            FUZZ_CHECK(stream.find(reply) != std::string::npos);
            FUZZ_CHECK(world.clock.elapsedSince(start) <= 2 * (50 + 5015 + 50) + reading);
            break;
        }
        case 1: {  // readReply with any capacity
            const int began = kestrel::readReply(world.port, command, reply, capacity, stopAtOk);
            const size_t length = strnlen(reply, capacity);
            FUZZ_CHECK(length < capacity && reply[capacity] == 0x5A);
            FUZZ_CHECK(began == 1 || length == 0);
            FUZZ_CHECK(stream.find(reply) != std::string::npos);
            if (stopAtOk && length >= 4 && kestrel::containsOk(reply))
                FUZZ_CHECK(std::strstr(reply, "OK\r\n") + 4 == reply + length);
            FUZZ_CHECK(world.clock.elapsedSince(start) <= 5015 + 50 + reading);
            break;
        }
        case 2: {  // probeAtMode: the burst must begin within 200 ms plus a read
            kestrel::probeAtMode(world.port);
            FUZZ_CHECK(world.clock.elapsedSince(start) <= 200 + reading);
            break;
        }
        default: {  // queryModuleRate, against the reply the same module gives sendAtCommand
            int32_t rate = -7;
            const bool answered = kestrel::queryModuleRate(world.port, &rate);
            VirtualWorld twin;
            schedule(twin, bursts);
            kestrel::sendAtCommand(twin.port, "AT+IPR?\r", reply, kestrel::kReplyCapacity);
            const char* info = std::strstr(reply, "+IPR: ");
            if (answered) {
                FUZZ_CHECK(info != nullptr &&
                           std::strspn(reply, " \r\n") == static_cast<size_t>(info - reply));
                FUZZ_CHECK(rate == kestrel::convertRateText(info + 6));
            } else {
                FUZZ_CHECK(rate == -7);
            }
            break;
        }
    }
    world.port.closePort();
    FUZZ_CHECK(!world.os.isOpen());
    return 0;
}
