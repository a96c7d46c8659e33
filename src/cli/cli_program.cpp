// kestrel-cli: the update session for scripts and production lines. The firmware image is
// appended to this program's own file, as to the window's.
#include <unistd.h>

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/terminal_host.h"
#include "image/image_summary.h"
#include "platform/own_file.h"
#include "serial/port_lock.h"
#include "serial/port_problem.h"
#include "session/update_session.h"

namespace {

constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPortNotOpened = 3;

using namespace kestrel;

// "image: N records, B bytes, sha256 HEX" of the image behind this program; 1 without one.
int printImageInfo(FILE* out) {
    char path[kReasonPathCapacity];
    if (!ownProgramPath(path, sizeof path)) path[0] = '\0';
    FirmwareImage image(path);
    ImageSummary summary;
    if (!summarizeImage(image, &summary)) {
        char reason[2 * kReasonPathCapacity];
        describeSystemError(image.lastError(), reason, sizeof reason);
        std::fprintf(out, "image: none (%s)\n", reason);
        return kExitFailed;
    }
    std::fprintf(out, "image: %d records, %u bytes, sha256 %s\n", static_cast<int>(summary.records),
                 summary.bytes, summary.sha256);
    return kExitSucceeded;
}

// The reason on standard error, and for a port that did not open what to do about it.
void printReason(const SessionOutcome& outcome) {
    char reason[2 * kTextCapacity];
    describeSystemError(outcome.reason, reason, sizeof reason);
    if (reason[0] != '\0') std::fprintf(stderr, "kestrel-cli: %s\n", reason);
    if (outcome.result == SessionResult::PortNotOpened ||
        outcome.result == SessionResult::UsbPortNotReopened)
        std::fputs(explainPortProblem(outcome.reason).c_str(), stderr);
}

// Claims, opens and closes the port as a session would, and nothing else.
int checkPort(const SessionFields& fields) {
    const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
    SerialPort port(*os, systemClock());
    const std::unique_ptr<PortLock> lock = createPlatformPortLock();
    SessionOutcome outcome;
    outcome.result = SessionResult::PortNotOpened;
    const uint32_t rate = static_cast<uint32_t>(convertRateText(fields.rateText));
    if (lock == nullptr || lock->acquire(fields.portName, &outcome.reason)) {
        if (port.openPort(fields.portName, rate, fields.usb))
            outcome.result = SessionResult::Succeeded;
        else
            outcome.reason = port.lastError();
        port.closePort();
        if (lock != nullptr) lock->release();
    }
    if (outcome.succeeded()) {
        std::printf("%s: an update can start here.\n", fields.portName);
        return kExitSucceeded;
    }
    std::printf("ERROR: Cannot open COM-Port.\n");
    printReason(outcome);
    return kExitPortNotOpened;
}

// One line on what a successful update sent and how fast.
void printTransferFigures(const SessionOutcome& outcome, uint32_t sessionMs) {
    const double transferS = outcome.transferMs / 1000.0;
    const double bytesPerS = transferS > 0 ? outcome.bytesSent / transferS : 0;
    std::fprintf(stderr,
                 "kestrel-cli: sent %d records, %u bytes; update %.1f s, transfer %.1f s at "
                 "%.0f bytes/s (%.0f bit/s on the line)\n",
                 static_cast<int>(outcome.recordsSent), outcome.bytesSent, sessionMs / 1000.0,
                 transferS, bytesPerS, bytesPerS * 10);
}

}  // namespace

int main(int argc, char** argv) {
    SessionFields fields;
    char error[kTextCapacity];
    switch (parseCliArgs(argc, argv, &fields, error)) {
        case CliCommand::Help:
            printCliUsage(stdout);
            return kExitSucceeded;
        case CliCommand::Version:
            std::printf("kestrel-cli %s\n", KESTREL_VERSION);
            printImageInfo(stdout);
            return kExitSucceeded;
        case CliCommand::ImageInfo:
            return printImageInfo(stdout);
        case CliCommand::UsageError:
            std::fprintf(stderr, "kestrel-cli: %s\n\n", error);
            printCliUsage(stderr);
            return kExitUsage;
        case CliCommand::Check:
            return checkPort(fields);
        case CliCommand::Run:
            break;
    }
    // The bar only where someone watches; a log or a pipe gets the status lines alone.
    Clock& clock = systemClock();
    TerminalHost host(fields, stdout, isatty(STDERR_FILENO) ? stderr : nullptr, clock);
    const uint32_t start = clock.nowMs();
    const SessionOutcome outcome = runUpdateSession(host);
    if (outcome.succeeded()) {
        printTransferFigures(outcome, clock.elapsedSince(start));
        return kExitSucceeded;
    }
    // The status line says what failed; the system's words say why, where it gave any.
    printReason(outcome);
    return kExitFailed;
}
