#!/usr/bin/env python3
"""Runs one Windows program under wine, optionally against kestrel-modem-sim on a COM port
(its pty linked into the prefix as dosdevices/comN; the program finds the name in
KESTREL_TEST_PORT), then checks the exit code, the output and the simulator's summary.
Exit 0 when every expectation held, 1 when one did not (saying which), 2 on wrong usage."""

import argparse
import contextlib
import json
import os
import resource
import select
import signal
import subprocess
import sys
import time
import tempfile
import threading


class SimulatorOutput:
    """The simulator's lines as they come, each with the moment it came (read on a thread, so a
    case can act on what the simulator says while the program runs)."""

    def __init__(self, stream):
        self.lines = []
        self.arrived = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for line in stream:
            with self.arrived:
                self.lines.append((time.monotonic(), line))
                self.arrived.notify_all()

    def moment_of(self, text, timeout):
        """When the simulator said text (monotonic seconds), or None within timeout."""
        deadline = time.monotonic() + timeout
        with self.arrived:
            while True:
                for moment, line in self.lines:
                    if text in line:
                        return moment
                left = deadline - time.monotonic()
                if left <= 0 or not self.thread.is_alive():
                    return None
                self.arrived.wait(left)

    def text(self):
        self.thread.join(timeout=10)
        with self.arrived:
            return "".join(line for _, line in self.lines)


@contextlib.contextmanager
def com_port(sim, prefix, com, sim_args):
    """kestrel-modem-sim behind a pty that the prefix serves as COM<com>; yields the process
    and its SimulatorOutput."""
    with tempfile.TemporaryDirectory(prefix="kestrel-wine-") as tmp:
        link = os.path.join(tmp, "port")
        dosdevice = os.path.join(prefix, "dosdevices", "com%d" % com)
        proc = subprocess.Popen([sim, "--link", link] + sim_args, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace")
        try:
            ready = proc.stdout.readline() if select.select([proc.stdout], [], [], 10)[0] else ""
            if "ready" not in ready:
                proc.kill()
                raise RuntimeError("the simulator did not come up: " + ready + proc.stdout.read())
            print(ready.rstrip())
            if os.path.lexists(dosdevice):
                os.unlink(dosdevice)
            os.symlink(link, dosdevice)
            yield proc, SimulatorOutput(proc.stdout)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            if os.path.lexists(dosdevice):
                os.unlink(dosdevice)


def finish_simulator(proc, output, once, timeout):
    """(exit code, output): a --once simulator ends by itself, another one is stopped."""
    if once:
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(timeout=timeout)
            return proc.returncode, output.text()
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    return (None if once else 0), output.text()


def tree_cpu_seconds(root):
    """CPU seconds used so far by root and every process below it (wine runs the program in a
    loader process under the runner script)."""
    parent, cpu = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue  # ended meanwhile
        pid = int(entry)
        parent[pid] = int(fields[1])
        cpu[pid] = int(fields[11]) + int(fields[12])  # utime, stime in clock ticks
    total, below = 0, {root}
    changed = True
    while changed:
        changed = False
        for pid, ppid in parent.items():
            if ppid in below and pid not in below:
                below.add(pid)
                changed = True
    total = sum(cpu.get(pid, 0) for pid in below)
    return total / os.sysconf("SC_CLK_TCK")


def cpu_share_while_waiting(args, proc, sim_output):
    """The share of one core the program used in the quiet stretch after the simulator said
    args.quiet_after (from 0.5 s to 3.5 s after it), or a failure text."""
    said = sim_output.moment_of(args.quiet_after, args.timeout)
    if said is None:
        return None, "the simulator never said %r" % args.quiet_after
    start, end = said + 0.5, said + 3.5
    time.sleep(max(0.0, start - time.monotonic()))
    cpu_start = tree_cpu_seconds(proc.pid)
    time.sleep(max(0.0, end - time.monotonic()))
    cpu_end = tree_cpu_seconds(proc.pid)
    if proc.poll() is not None:
        return None, "the program ended before its quiet stretch was measured"
    return (cpu_end - cpu_start) / (end - start), None


def text_of(output):
    return output.decode(errors="replace") if isinstance(output, bytes) else output or ""


def run_program(args, program, env, failures, sim_output=None):
    started = time.monotonic()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    proc = subprocess.Popen([args.runner, args.prefix] + program, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    # The pipes are drained on a thread so that the program never blocks on them while the
    # quiet stretch is measured here.
    streams = {}
    reader = threading.Thread(target=lambda: streams.update(zip(("out", "err"),
                                                               proc.communicate())))
    reader.start()
    if args.quiet_after is not None:
        share, problem = cpu_share_while_waiting(args, proc, sim_output)
        if problem:
            failures.append(problem)
        else:
            print("== the program used %.1f%% of a core while waiting" % (100 * share))
            if share > args.max_cpu_share:
                failures.append("the program used %.0f%% of a core while waiting, at most "
                                "%.0f%% expected" % (100 * share, 100 * args.max_cpu_share))
    reader.join(timeout=max(0.0, args.timeout - (time.monotonic() - started)))
    if reader.is_alive():
        failures.append("the program did not end within %.0f s" % args.timeout)
        proc.kill()
        reader.join()
    code = proc.returncode if proc.returncode is not None and "out" in streams else None
    out, err = streams.get("out"), streams.get("err")
    # The program runs in wine's loader, a child of the runner: its CPU time is the children's.
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    out, err = text_of(out), text_of(err)
    print("== program (exit %s, %.2f s CPU in %.1f s): %s\n%s" % (
        code, cpu, time.monotonic() - started, " ".join(program), out.rstrip()))
    if err.strip():
        print("== its standard error\n" + err.rstrip())
    if code is not None and code != args.expect_exit:
        failures.append("exit code %s, expected %d" % (code, args.expect_exit))
    # Status lines may end in CR LF (the C runtime's text mode) or CR (a progress line).
    lines = [l for l in out.replace("\r\n", "\n").replace("\r", "\n").split("\n") if l]
    failures += ["no line %r in the program's output" % want
                 for want in args.expect_line if want not in lines]
    if args.json:
        for line in lines:
            try:
                event = json.loads(line)
                if event.get("v") != 1:
                    failures.append("a JSON line without schema version 1: %r" % line)
            except ValueError as e:
                failures.append("not a JSON line (%s): %r" % (e, line))
    failures += ["no JSON line holding %r" % want
                 for want in args.expect_json if not any(want in line for line in lines)]
    if args.expect_last is not None and lines[-1:] != [args.expect_last]:
        failures.append("last line %r, expected %r" % (lines[-1:], args.expect_last))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--sim")
    ap.add_argument("--com", type=int)
    for repeated in ("--sim-arg", "--expect-line", "--expect-sim", "--expect-json"):
        ap.add_argument(repeated, action="append", default=[])
    ap.add_argument("--sim-once", action="store_true")
    ap.add_argument("--expect-exit", type=int, default=0)
    ap.add_argument("--expect-last")
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--quiet-after", metavar="TEXT",
                    help="once the simulator says TEXT, the program waits: measure its CPU")
    ap.add_argument("--max-cpu-share", type=float, default=0.2,
                    help="share of one core the waiting program may use at most")
    ap.add_argument("--no-display", action="store_true", help="run without DISPLAY")
    ap.add_argument("--json", action="store_true", help="every output line must be JSON")
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program or (args.sim and not args.com):
        ap.print_usage(sys.stderr)
        return 2

    failures = []
    env = dict(os.environ)
    if args.no_display:
        env.pop("DISPLAY", None)
    try:
        if not args.sim:
            run_program(args, program, env, failures)
        else:
            sim_args = (["--once"] if args.sim_once else []) + args.sim_arg
            with com_port(args.sim, args.prefix, args.com, sim_args) as (sim, sim_output):
                env["KESTREL_TEST_PORT"] = "COM%d" % args.com
                run_program(args, program, env, failures, sim_output)
                sim_code, sim_out = finish_simulator(sim, sim_output, args.sim_once, 30)
            print("== simulator\n" + sim_out.rstrip())
            if args.sim_once and sim_code != 0:
                failures.append("simulator exit %s, expected 0" % sim_code)
            failures += ["the simulator never said %r" % want
                         for want in args.expect_sim if want not in sim_out]
    except RuntimeError as e:
        failures.append(str(e))
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
