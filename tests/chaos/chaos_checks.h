// What must hold after every chaos session, whatever the module did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chaos/chaos_world.h"

namespace kestrel::test {

// The longest the session may have taken: the worst case of each phase it went through, from
// the prescribed waits, plus one read timeout for every byte it read.
uint64_t sessionBoundMs(const ChaosWorld& cw);

// The same for the block transfer alone (outcome.transferMs).
uint64_t transferBoundMs(const ChaosWorld& cw);

// The invariants the session broke, each in a few words; empty when it kept them all.
std::vector<std::string> brokenInvariants(const ChaosWorld& cw);

// The session as it went: plan, outcome, module, statuses with their times.
std::string sessionDetails(const ChaosWorld& cw);

// Every write, module byte, open, close and DTR edge with its time, for a replay.
std::string sessionTrace(const ChaosWorld& cw);

}  // namespace kestrel::test
