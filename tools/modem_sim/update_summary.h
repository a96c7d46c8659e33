// What the simulator says at the end of an update: how the transfer went and whether the
// loader took exactly the expected image.
#pragma once

#include <cstdio>
#include <vector>

#include "module_model.h"

namespace kestrel::sim {

// Prints the summary lines for `model` to `out`, `reason` saying why the update is over:
// the dialogue (command lines heard, rates the host's bytes came at), the transfer's
// figures and the image comparison. `expected` is null when no image was given. Returns
// false only when an image was given and the accepted records differ from it.
bool printUpdateSummary(FILE* out, const ModuleModel& model,
                        const std::vector<std::vector<uint8_t>>* expected,
                        const std::vector<uint32_t>& hostRates, const char* reason);

}  // namespace kestrel::sim
