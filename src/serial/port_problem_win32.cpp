#include "serial/port_problem.h"

namespace kestrel {

// Windows' own message for the error says what there is to say.
std::string explainPortProblem(const SystemError&) {
    return {};
}

}  // namespace kestrel
