#!/usr/bin/env python3
"""Runs one Windows program under wine, optionally against kestrel-modem-sim on a COM port
(its pty linked into the prefix as dosdevices/comN; the program finds the name in
KESTREL_TEST_PORT), then checks the exit code, the output and the simulator's summary.
Exit 0 when every expectation held, 1 when one did not (saying which), 2 on wrong usage."""

import argparse
import contextlib
import os
import resource
import select
import signal
import subprocess
import sys
import time
import tempfile


@contextlib.contextmanager
def com_port(sim, prefix, com, sim_args):
    """kestrel-modem-sim behind a pty that the prefix serves as COM<com>; yields the process."""
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
            yield proc
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
            if os.path.lexists(dosdevice):
                os.unlink(dosdevice)


def finish_simulator(proc, once, timeout):
    """(exit code, output): a --once simulator ends by itself, another one is stopped."""
    if once:
        with contextlib.suppress(subprocess.TimeoutExpired):
            out, _ = proc.communicate(timeout=timeout)
            return proc.returncode, out
    proc.send_signal(signal.SIGTERM)
    try:
        out, _ = proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
    return (None if once else 0), out


def text_of(output):
    return output.decode(errors="replace") if isinstance(output, bytes) else output or ""


def run_program(args, program, env, failures):
    started = time.monotonic()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    try:
        run = subprocess.run([args.runner, args.prefix] + program, env=env, timeout=args.timeout,
                             stdin=subprocess.DEVNULL, capture_output=True)
        code, out, err = run.returncode, run.stdout, run.stderr
    except subprocess.TimeoutExpired as e:
        code, out, err = None, e.stdout, e.stderr
        failures.append("the program did not end within %.0f s" % args.timeout)
    # The program runs in wine's loader, a child of the runner: its CPU time is the children's.
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    out, err = text_of(out), text_of(err)
    print("== program (exit %s, %.2f s CPU in %.1f s): %s\n%s" % (
        code, cpu, time.monotonic() - started, " ".join(program), out.rstrip()))
    if args.max_cpu is not None and cpu > args.max_cpu:
        failures.append("the program used %.2f s of CPU, at most %.2f s expected" % (
            cpu, args.max_cpu))
    if err.strip():
        print("== its standard error\n" + err.rstrip())
    if code is not None and code != args.expect_exit:
        failures.append("exit code %s, expected %d" % (code, args.expect_exit))
    # Status lines may end in CR LF (the C runtime's text mode) or CR (a progress line).
    lines = [l for l in out.replace("\r\n", "\n").replace("\r", "\n").split("\n") if l]
    failures += ["no line %r in the program's output" % want
                 for want in args.expect_line if want not in lines]
    if args.expect_last is not None and lines[-1:] != [args.expect_last]:
        failures.append("last line %r, expected %r" % (lines[-1:], args.expect_last))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--sim")
    ap.add_argument("--com", type=int)
    for repeated in ("--sim-arg", "--expect-line", "--expect-sim"):
        ap.add_argument(repeated, action="append", default=[])
    ap.add_argument("--sim-once", action="store_true")
    ap.add_argument("--expect-exit", type=int, default=0)
    ap.add_argument("--expect-last")
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--max-cpu", type=float, help="CPU seconds the program may use at most")
    ap.add_argument("--no-display", action="store_true", help="run without DISPLAY")
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
            with com_port(args.sim, args.prefix, args.com, sim_args) as sim:
                env["KESTREL_TEST_PORT"] = "COM%d" % args.com
                run_program(args, program, env, failures)
                sim_code, sim_out = finish_simulator(sim, args.sim_once, 30)
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
