#include "ui/port_problem_text.h"

#include "serial/port_problem.h"

namespace kestrel {

std::string portProblemText(const SystemError& reason) {
    char text[2 * kReasonPathCapacity];
    describeSystemError(reason, text, sizeof text);
    std::string out = text;
    if (!out.empty()) out += '\n';
    return out + explainPortProblem(reason);
}

}  // namespace kestrel
