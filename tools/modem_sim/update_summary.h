// What the simulator says at the end of an update: how the transfer went and whether the
// loader took exactly the expected image.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "module_model.h"

namespace kestrel::sim {

// A point in a module's running counts, and the module as it was there. One update is what
// happened between two marks: a module outlives an update that broke off, and the next one
// counts afresh.
struct StatsMark {
    size_t commandLines = 0;
    size_t accepted = 0;
    int resendsRequested = 0;
    int restarts = 0;
    size_t hostRates = 0;  // entries in the simulator's list of host rates
    uint32_t configuredRate = 0;
    const char* state = "";
};

StatsMark markOf(const ModuleModel& model, size_t hostRates);

// Prints the summary lines of the update between `from` and `to` of `stats` to `out`,
// `reason` saying why it is over: the dialogue (command lines heard, rates the host's bytes
// came at), the transfer's figures, the module as the update left it and the image
// comparison. `expected` is null when no image was given. Returns false only when an image
// was given and the accepted records differ from it.
bool printUpdateSummary(FILE* out, const ModuleStats& stats, const StatsMark& from,
                        const StatsMark& to, const std::vector<uint32_t>& hostRates,
                        const std::vector<std::vector<uint8_t>>* expected, const char* reason);

}  // namespace kestrel::sim
