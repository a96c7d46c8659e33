#include "cli/cli_program.h"

#include <unistd.h>

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/console.h"
#include "cli/list_command.h"
#include "cli/station_front.h"
#include "cli/stop_signals.h"
#include "cli/update_runner.h"
#include "image/image_summary.h"
#include "platform/own_file.h"
#include "serial/port_lock.h"
#include "serial/port_problem.h"
#include "session/session_exit_code.h"
#include "session/status_texts.h"
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

// Claims, opens and closes each port as a session would, and nothing else.
int checkPorts(const CliOptions& options, Console& console) {
    int code = kExitSucceeded;
    const uint32_t rate = static_cast<uint32_t>(convertRateText(options.fields.rateText));
    for (const std::string& name : options.ports) {
        const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
        SerialPort port(*os, systemClock());
        const std::unique_ptr<PortLock> lock = createPlatformPortLock();
        PortResult r;
        r.port = name;
        r.outcome.result = SessionResult::PortNotOpened;
        if (lock == nullptr || lock->acquire(name.c_str(), &r.outcome.reason)) {
            if (port.openPort(name.c_str(), rate, options.fields.usb))
                r.outcome.result = SessionResult::Succeeded;
            else
                r.outcome.reason = port.lastError();
            port.closePort();
            if (lock != nullptr) lock->release();
        }
        if (r.outcome.succeeded()) {
            console.outLine(name + ": an update can start here.");
            continue;
        }
        console.outLine((options.ports.size() > 1 ? name + ": " : std::string()) +
                        status::kCannotOpenPort);
        reportFailureReason(console, r, options.ports.size() > 1);
        code = kExitPortNotOpened;
    }
    return code;
}

OutputMode outputModeOf(const CliOptions& options) {
    if (options.json) return OutputMode::Json;
    return options.ports.size() == 1 ? OutputMode::Plain
                                     : OutputMode::Prefixed;  // a station: Prefixed
}

}  // namespace

namespace kestrel {

int runCliProgram(int argc, char** argv) {
    CliOptions options;
    char error[kTextCapacity];
    const CliCommand command = parseCliArgs(argc, argv, &options, error);
    switch (command) {
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
        case CliCommand::List:
            return runListCommand(options.json, stdout);
        case CliCommand::Station:
        case CliCommand::Check:
        case CliCommand::Run:
            break;
    }
    StopRequest stop;
    installStopSignals(stop, nullptr, nullptr);
    const OutputMode mode = outputModeOf(options);
    // Progress rows only where someone watches them.
    const bool watched = mode == OutputMode::Prefixed && isatty(STDERR_FILENO);
    Console console(stdout, stderr, watched ? stderr : nullptr);
    if (command == CliCommand::Check) return checkPorts(options, console);

    char programPath[kReasonPathCapacity];
    if (!ownProgramPath(programPath, sizeof programPath)) programPath[0] = '\0';
    ImageSummary image;
    if (mode == OutputMode::Json || command == CliCommand::Station) {
        // Begin events and unit records name the image (read and hashed once for the run;
        // only they need it); a damaged one still lets each session say so.
        FirmwareImage reader(programPath);
        summarizeImage(reader, &image);
    }
    RunContext run{options, mode, console, stop, programPath, image};
    run.logPerPort = options.ports.size() > 1 || command == CliCommand::Station;
    return command == CliCommand::Station ? runStation(run) : runUpdates(run);
}

}  // namespace kestrel
