#!/usr/bin/env python3
"""Runs one Windows program under wine, optionally against kestrel-modem-sim on a COM port.

The simulator's pseudo-terminal is linked into the wine prefix as dosdevices/comN, which wine
opens as COMN (and as \\\\.\\COMN). The program gets the port's name in KESTREL_TEST_PORT.
Then the program's exit code and output, and the simulator's summary, are checked.

  wine_case.py --runner WINE_RUN --prefix PREFIX [--sim SIM --com N [--sim-arg ARG]...
               [--sim-once]] [--expect-exit N] [--expect-line TEXT]... [--expect-last TEXT]
               [--expect-sim TEXT]... [--timeout S] [--no-display] -- PROGRAM [ARGS...]

Exit 0 when every expectation held, 1 when one did not (saying which), 2 on wrong usage.
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def start_simulator(sim, link, extra):
    proc = subprocess.Popen([sim, "--link", link] + extra, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, errors="replace")
    ready = ""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        r, _, _ = select.select([proc.stdout], [], [], 0.2)
        if r:
            ready = proc.stdout.readline()
            break
        if proc.poll() is not None:
            break
    if "ready" not in ready:
        proc.kill()
        raise RuntimeError("the simulator did not come up: " + ready + proc.stdout.read())
    return proc, ready


def finish_simulator(proc, once, timeout):
    if once:
        try:
            out, _ = proc.communicate(timeout=timeout)
            return proc.returncode, out
        except subprocess.TimeoutExpired:
            pass
    proc.send_signal(signal.SIGTERM)
    try:
        out, _ = proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
    return (None if once else 0), out


def lines_of(text):
    # Status lines may end in CR LF (the C runtime's text mode) or CR (a progress line).
    return [line for line in text.replace("\r\n", "\n").replace("\r", "\n").split("\n") if line]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--sim")
    ap.add_argument("--com", type=int)
    ap.add_argument("--sim-arg", action="append", default=[])
    ap.add_argument("--sim-once", action="store_true")
    ap.add_argument("--expect-exit", type=int, default=0)
    ap.add_argument("--expect-line", action="append", default=[])
    ap.add_argument("--expect-last")
    ap.add_argument("--expect-sim", action="append", default=[])
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--no-display", action="store_true", help="run without DISPLAY")
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program or (args.sim and not args.com):
        ap.print_usage(sys.stderr)
        return 2

    failures = []
    tmp = tempfile.mkdtemp(prefix="kestrel-wine-")
    dosdevice = None
    sim = None
    env = dict(os.environ)
    if args.no_display:
        env.pop("DISPLAY", None)
    try:
        if args.sim:
            link = os.path.join(tmp, "port")
            sim_args = (["--once"] if args.sim_once else []) + args.sim_arg
            sim, ready = start_simulator(args.sim, link, sim_args)
            print(ready.rstrip())
            dosdevice = os.path.join(args.prefix, "dosdevices", "com%d" % args.com)
            if os.path.lexists(dosdevice):
                os.unlink(dosdevice)
            os.symlink(link, dosdevice)
            env["KESTREL_TEST_PORT"] = "COM%d" % args.com

        started = time.monotonic()
        try:
            run = subprocess.run([args.runner, args.prefix] + program, env=env,
                                 stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                 errors="replace", timeout=args.timeout)
            code, out, err = run.returncode, run.stdout, run.stderr
        except subprocess.TimeoutExpired as e:
            code, out, err = None, e.stdout or "", e.stderr or ""
            if isinstance(out, bytes):
                out = out.decode(errors="replace")
            if isinstance(err, bytes):
                err = err.decode(errors="replace")
            failures.append("the program did not end within %.0f s" % args.timeout)
        seconds = time.monotonic() - started
        print("== program (%.1f s, exit %s): %s" % (seconds, code, " ".join(program)))
        print(out.rstrip())
        if err.strip():
            print("== its standard error")
            print(err.rstrip())

        if code is not None and code != args.expect_exit:
            failures.append("exit code %s, expected %d" % (code, args.expect_exit))
        lines = lines_of(out)
        for want in args.expect_line:
            if want not in lines:
                failures.append("no line %r in the program's output" % want)
        if args.expect_last is not None and (not lines or lines[-1] != args.expect_last):
            failures.append("last line %r, expected %r" % (lines[-1] if lines else None,
                                                           args.expect_last))

        if sim:
            sim_code, sim_out = finish_simulator(sim, args.sim_once, 30)
            sim = None
            print("== simulator")
            print(sim_out.rstrip())
            if args.sim_once and sim_code != 0:
                failures.append("simulator exit %s, expected 0" % sim_code)
            for want in args.expect_sim:
                if want not in sim_out:
                    failures.append("the simulator never said %r" % want)
    except RuntimeError as e:
        failures.append(str(e))
    finally:
        if sim:
            finish_simulator(sim, False, 0)
        if dosdevice and os.path.lexists(dosdevice):
            os.unlink(dosdevice)
        shutil.rmtree(tmp, ignore_errors=True)

    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
