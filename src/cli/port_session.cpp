#include "cli/port_session.h"

#include <unistd.h>

#include <memory>

#include "cli/json_line.h"
#include "cli/port_hosts.h"
#include "cli/terminal_host.h"
#include "cli/transcribing_host.h"
#include "platform/clock.h"
#include "serial/port_guard.h"
#include "serial/port_locator.h"
#include "serial/port_lock.h"
#include "serial/serial_os.h"
#include "serial/serial_port.h"
#include "serial/transcript.h"
#include "serial/transcript_store.h"
#include "serial/transcript_tap.h"
#include "session/rate_journal.h"
#include "session/session_exit_code.h"
#include "session/update_session.h"

namespace kestrel {

namespace {

void toHostWarning(void* host, const char* text) {
    static_cast<CliHost*>(host)->warning(text);
}

std::string beginEventJson(const RunContext& run, const std::string& port) {
    JsonLine image;
    image.add("records", run.image.records).add("bytes", run.image.bytes);
    image.add("sha256", run.image.sha256);
    const SessionFields& f = run.options.fields;
    return jsonEvent("begin", port.c_str())
        .add("tool", "kestrel-cli")
        .add("version", KESTREL_VERSION)
        .addRaw("image", image.object())
        .add("rate", f.rateText)
        .add("usb", f.usb)
        .add("no_firmware", f.noFirmware)
        .object();
}

// The system's reason as an object, or null when there is none.
std::string reasonJson(const SystemError& reason) {
    if (!reason.known()) return "null";
    char text[2 * kReasonPathCapacity];
    describeSystemError(reason, text, sizeof text);
    JsonLine r;
    r.add("code", reason.code).add("path", reason.path).add("text", text);
    return r.object();
}

std::string describe(const SystemError& why) {
    char text[2 * kReasonPathCapacity];
    describeSystemError(why, text, sizeof text);
    return text;
}

// The transcript's last line: how the session ended, with what the outcome knows.
std::string outcomeLine(const PortResult& r) {
    const SessionOutcome& o = r.outcome;
    char line[400];
    int n = std::snprintf(line, sizeof line, "%s, exit %d", describeResult(o.result), r.exitCode);
    if (o.blockIndex >= 0 && n > 0 && static_cast<size_t>(n) < sizeof line)
        n += std::snprintf(line + n, sizeof line - n, ", block %d (%s",
                           static_cast<int>(o.blockIndex), blockFailureName(o.blockFailure));
    if (o.blockIndex >= 0 && n > 0 && static_cast<size_t>(n) < sizeof line) {
        if (o.answerByte >= 0)
            n += std::snprintf(line + n, sizeof line - n, ", answer 0x%02x)", o.answerByte);
        else
            n += std::snprintf(line + n, sizeof line - n, ")");
    }
    if (o.reason.known() && n > 0 && static_cast<size_t>(n) < sizeof line)
        std::snprintf(line + n, sizeof line - n, ": %s", describe(o.reason).c_str());
    return line;
}

}  // namespace

std::string logPathFor(const std::string& path, const std::string& port, bool perPort) {
    if (!perPort) return path;
    const std::string name = portPart(port.c_str());
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return path + "." + name;
    return path.substr(0, dot) + "." + name + path.substr(dot);
}

std::string endEventJson(const PortResult& r) {
    const SessionOutcome& o = r.outcome;
    JsonLine line = jsonEvent("end", r.port.c_str());
    line.add("result", resultName(o.result)).add("exit_code", r.exitCode);
    if (r.failedStep.empty())
        line.addNull("step");
    else
        line.add("step", r.failedStep);
    line.add("block_failure", blockFailureName(o.blockFailure));
    if (o.blockIndex >= 0)
        line.add("block", o.blockIndex);
    else
        line.addNull("block");
    if (o.answerByte >= 0)
        line.add("answer", o.answerByte);
    else
        line.addNull("answer");
    line.add("hand_back_failed", o.handBackFailed).addRaw("reason", reasonJson(o.reason));
    line.add("records_sent", o.recordsSent).add("bytes_sent", o.bytesSent);
    line.add("transfer_ms", o.transferMs).add("duration_ms", r.durationMs);
    if (r.transcript.empty())
        line.addNull("transcript");
    else
        line.add("transcript", r.transcript);
    return line.object();
}

PortResult runPortSession(const RunContext& run, const std::string& port) {
    Clock& clock = systemClock();
    const uint32_t startMs = clock.nowMs();
    PortResult result;
    result.port = port;
    SessionFields fields = run.options.fields;
    copyText(fields.portName, port.c_str());

    std::unique_ptr<SessionHost> host;
    CliHost* cliHost = nullptr;
    switch (run.mode) {
        case OutputMode::Plain:
            // The one-port front end as it always was: the bar only where someone watches.
            host.reset(
                new TerminalHost(fields, stdout, isatty(STDERR_FILENO) ? stderr : nullptr, clock));
            break;
        case OutputMode::Prefixed:
            host.reset(cliHost = new PrefixedHost(fields, run.console, clock));
            break;
        case OutputMode::Json:
            host.reset(cliHost = new JsonHost(fields, run.console, clock, startMs));
            run.console.outLine(beginEventJson(run, port));
            break;
    }

    // The transcript: streamed to the --log file, or kept in memory for a failure.
    Transcript transcript(clock);
    if (!run.options.logPath.empty()) {
        const std::string path = logPathFor(run.options.logPath, port, run.logPerPort);
        SystemError why;
        if (transcript.streamTo(path.c_str(), &why))
            result.transcript = path;
        else
            run.console.errLine("kestrel-cli: no transcript: " + describe(why));
    }
    TranscribingHost transcribed(*host, transcript);

    FirmwareImage image(run.programPath);
    if (cliHost != nullptr) image.setWarningSink(toHostWarning, cliHost);
    const std::unique_ptr<SerialOs> os = createPlatformSerialOs();
    TranscriptTap tap(*os, transcript);
    if (run.mode == OutputMode::Json)
        static_cast<JsonHost*>(cliHost)->countBytesWith(tap.bytesWritten());
    SerialPort serial(tap, clock);
    const std::unique_ptr<PortLock> lock = createPlatformPortLock();
    const std::unique_ptr<RateJournal> journal = createPlatformRateJournal();
    const std::unique_ptr<PortGuard> guard = createPlatformPortGuard();
    const std::unique_ptr<PortLocator> locator = createPlatformPortLocator();
    SessionParts parts{serial, image, lock.get(), journal.get(), guard.get(), locator.get()};
    parts.stop = &run.stop;
    result.outcome = runUpdateSession(transcribed, parts);
    result.exitCode = exitCodeOf(result.outcome);
    result.durationMs = clock.elapsedSince(startMs);
    if (!result.outcome.succeeded() && cliHost != nullptr && cliHost->lastPhase() != nullptr)
        result.failedStep = cliHost->lastPhase();

    transcript.noteOutcome(outcomeLine(result).c_str());
    // A --log file that stopped taking lines part-way is no transcript to rely on: say so.
    if (transcript.streamError().known())
        run.console.errLine("kestrel-cli: " + port +
                            ": transcript cut short: " + describe(transcript.streamError()));
    // Kept for support only where the module was talked to: a port that did not open or an
    // image that could not be read has nothing on the line to show.
    const SessionResult r = result.outcome.result;
    const bool lineUsed = r != SessionResult::Succeeded && r != SessionResult::PortNotOpened &&
                          r != SessionResult::ImageUnreadable;
    if (lineUsed && result.transcript.empty()) {
        char saved[kReasonPathCapacity * 2];
        SystemError why;
        if (saveRing(transcript, port.c_str(), nullptr, saved, sizeof saved, &why))
            result.transcript = saved;
        else
            run.console.errLine("kestrel-cli: " + port + ": transcript not kept: " + describe(why));
    }

    if (run.mode == OutputMode::Json) run.console.outLine(endEventJson(result));
    if (run.mode == OutputMode::Prefixed)
        static_cast<PrefixedHost*>(cliHost)->showResult(describeResult(result.outcome.result));
    return result;
}

}  // namespace kestrel
