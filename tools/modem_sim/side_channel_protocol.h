// The side channel between kestrel-modem-sim and the test shim loaded into the tool under test.
//
// A pseudo-terminal has no modem-control lines. The shim answers the tool's modem-line ioctls
// on the simulator's pty by asking the simulator over a Unix SOCK_SEQPACKET socket (its path
// in the environment variable below): every request gets exactly one reply before the ioctl
// returns, so a DTR edge reaches the module before any byte the tool writes after it.
// Shared by the simulator (C++) and the shim; plain fixed-size structs, host byte order.
#pragma once

#include <stdint.h>

namespace kestrel::sim {

// The environment variable naming the socket, for the shim.
constexpr const char* kSideChannelEnv = "KESTREL_SIM_SIDE_CHANNEL";

enum SideCommand : uint8_t {
    kSetDtr = 'D',       // level in `arg`
    kSetRts = 'R',       // level in `arg`; the module ignores it
    kQueryLines = 'C',   // reply carries CTS
    kQueryErrors = 'E',  // reply carries the count of bytes delivered with a framing error
};

struct SideRequest {
    uint8_t command = 0;
    uint8_t arg = 0;
    uint8_t reserved[6] = {};
    // st_rdev of the descriptor the ioctl was made on: only the simulator's current pty is
    // served, so an old pty whose master has gone answers like a plain pty again.
    uint64_t device = 0;
};

enum SideStatus : uint8_t {
    kServed = 'k',
    kNotOurs = 'x',  // not the simulator's current pty
};

struct SideReply {
    uint8_t status = kNotOurs;
    uint8_t cts = 0;
    uint8_t reserved[2] = {};
    uint32_t frameErrors = 0;
};

}  // namespace kestrel::sim
