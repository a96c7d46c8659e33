// Why a port could not be opened, told so that the operator can act: the cause in the host's
// terms and the fix (the ports that do exist, the group to join, the process that holds it).
#pragma once

#include <string>

#include "platform/system_error.h"

namespace kestrel {

// Lines of advice (each ending in '\n') for the failure `reason` of opening a port; empty
// when there is nothing to add to the reason itself.
std::string explainPortProblem(const SystemError& reason);

}  // namespace kestrel
