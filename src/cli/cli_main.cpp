// kestrel-cli: the update session for scripts and production lines. The firmware image is
// appended to this program's own file, as to the window's.
#include <unistd.h>

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/terminal_host.h"
#include "session/update_session.h"

namespace {

constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    SessionFields fields;
    char error[kTextCapacity];
    switch (parseCliArgs(argc, argv, &fields, error)) {
        case CliCommand::Help:
            printCliUsage(stdout);
            return kExitSucceeded;
        case CliCommand::Version:
            std::printf("kestrel-cli %s\n", KESTREL_VERSION);
            return kExitSucceeded;
        case CliCommand::UsageError:
            std::fprintf(stderr, "kestrel-cli: %s\n\n", error);
            printCliUsage(stderr);
            return kExitUsage;
        case CliCommand::Run:
            break;
    }
    // The bar only where someone watches; a log or a pipe gets the status lines alone.
    TerminalHost host(fields, stdout, isatty(STDERR_FILENO) ? stderr : nullptr, systemClock());
    const SessionOutcome outcome = runUpdateSession(host);
    if (outcome.succeeded()) return kExitSucceeded;
    // The status line says what failed; the system's words say why, where it gave any.
    char reason[2 * kTextCapacity];
    describeSystemError(outcome.reason, reason, sizeof reason);
    if (reason[0] != '\0') std::fprintf(stderr, "kestrel-cli: %s\n", reason);
    return kExitFailed;
}
