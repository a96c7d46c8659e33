#include "cli/update_runner.h"

#include <memory>

#include "platform/worker_thread.h"
#include "serial/port_problem.h"
#include "session/session_exit_code.h"

namespace kestrel {

namespace {

struct Job {
    const RunContext* run;
    std::string port;
    PortResult result;
    WorkerThread thread;
};

void runJob(void* job) {
    Job& j = *static_cast<Job*>(job);
    j.result = runPortSession(*j.run, j.port);
}

std::string formatSeconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

// One line on what a successful update sent and how fast.
std::string transferFigures(const PortResult& r) {
    const SessionOutcome& o = r.outcome;
    const double transferS = o.transferMs / 1000.0;
    const double bytesPerS = transferS > 0 ? o.bytesSent / transferS : 0;
    char line[200];
    std::snprintf(line, sizeof line,
                  "kestrel-cli: sent %d records, %u bytes; update %.1f s, transfer %.1f s at "
                  "%.0f bytes/s (%.0f bit/s on the line)",
                  static_cast<int>(o.recordsSent), o.bytesSent, r.durationMs / 1000.0, transferS,
                  bytesPerS, bytesPerS * 10);
    return line;
}

}  // namespace

void reportFailureReason(Console& console, const PortResult& r, bool prefix) {
    const std::string head = prefix ? "kestrel-cli: " + r.port + ": " : "kestrel-cli: ";
    char reason[2 * kReasonPathCapacity];
    describeSystemError(r.outcome.reason, reason, sizeof reason);
    if (reason[0] != '\0') console.errLine(head + reason);
    if (r.outcome.result == SessionResult::PortNotOpened ||
        r.outcome.result == SessionResult::UsbPortNotReopened) {
        const std::string explanation = explainPortProblem(r.outcome.reason);
        size_t from = 0;
        while (from < explanation.size()) {
            size_t end = explanation.find('\n', from);
            if (end == std::string::npos) end = explanation.size();
            console.errLine((prefix ? "  " : "") + explanation.substr(from, end - from));
            from = end + 1;
        }
    }
    if (!r.transcript.empty() && !r.outcome.succeeded())
        console.errLine(head + "transcript of the line in " + r.transcript);
}

std::string summaryTable(const std::vector<PortResult>& results) {
    size_t width = 4;
    for (const PortResult& r : results)
        width = r.port.size() > width ? r.port.size() : width;
    std::string table;
    char line[400];
    std::snprintf(line, sizeof line, "%-*s  %-26s %4s  %s\n", static_cast<int>(width), "PORT",
                  "RESULT", "EXIT", "TIME");
    table += line;
    for (const PortResult& r : results) {
        std::snprintf(line, sizeof line, "%-*s  %-26s %4d  %s\n", static_cast<int>(width),
                      r.port.c_str(), describeResult(r.outcome.result), r.exitCode,
                      formatSeconds(r.durationMs).c_str());
        table += line;
    }
    table.pop_back();  // the console adds the last line end
    return table;
}

int runUpdates(const RunContext& run) {
    const std::vector<std::string>& ports = run.options.ports;
    std::vector<std::unique_ptr<Job>> jobs;
    for (const std::string& port : ports) {
        jobs.emplace_back(new Job{&run, port, {}, {}});
    }
    if (jobs.size() == 1) {
        runJob(jobs[0].get());
    } else {
        for (auto& job : jobs) {
            // Without a thread of its own the port's session runs here, after the others began.
            if (!job->thread.start(runJob, job.get())) runJob(job.get());
        }
        for (auto& job : jobs)
            job->thread.join();
    }

    const bool prefix = run.mode != OutputMode::Plain;
    std::vector<PortResult> results;
    bool allSucceeded = true;
    for (auto& job : jobs) {
        const PortResult& r = job->result;
        allSucceeded = allSucceeded && r.outcome.succeeded();
        if (r.outcome.succeeded()) {
            if (run.mode == OutputMode::Plain) run.console.errLine(transferFigures(r));
        } else {
            reportFailureReason(run.console, r, prefix);
        }
        results.push_back(r);
    }
    if (jobs.size() > 1 && run.mode == OutputMode::Prefixed) {
        run.console.freezeBoard();
        run.console.outLine(summaryTable(results));
    }
    // However the sessions ended, a stop signal decides the process's code.
    if (run.stop.level() != StopLevel::None) return stopExitCode(run.stop.askedBy());
    if (jobs.size() == 1) return results[0].exitCode;
    return allSucceeded ? 0 : 1;
}

}  // namespace kestrel
