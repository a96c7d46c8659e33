#!/usr/bin/env python3
"""Runs one Windows program under wine, with --com N against kestrel-modem-sim on COM<N> (its
pty linked into the prefix as dosdevices/comN; the program finds the name in KESTREL_TEST_PORT),
then checks the exit code, the output and the simulator's summary.

--window: kestrel.exe on the X display, driven from the outside (xdotool), with --com 1 (the
window's default port): started with the settings key removed, the window must come up, run
an update on Enter and end on a real Escape, leaving the three values in the registry.
Exit 0 when every expectation held, 1 when one did not (saying which), 2 on wrong usage."""

import argparse
import contextlib
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

KEY = r"HKLM\SOFTWARE\Norvald\Kestrel"
CAPTION = "Kestrel (RS232 + USB)"


@contextlib.contextmanager
def com_port(args, sim_args, failures):
    """kestrel-modem-sim behind a pty the prefix serves as COM<n>; yields the process. At the end
    a --once simulator must have ended by itself with 0, another one is stopped; its output (a
    few lines) is left in proc.out."""
    with tempfile.TemporaryDirectory(prefix="kestrel-wine-") as tmp:
        link, dosdevice = os.path.join(tmp, "port"), "%s/dosdevices/com%d" % (args.prefix, args.com)
        proc = subprocess.Popen([args.sim, "--link", link] + sim_args, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace")
        try:
            ready = proc.stdout.readline() if select.select([proc.stdout], [], [], 10)[0] else ""
            if "ready" not in ready:
                proc.kill()
                raise RuntimeError("the simulator did not come up: " + ready + proc.stdout.read())
            print(ready.rstrip())
            with contextlib.suppress(FileNotFoundError):
                os.unlink(dosdevice)
            os.symlink(link, dosdevice)
            yield proc
            if not args.sim_once:
                proc.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(timeout=30 if args.sim_once else 10)
        finally:
            if proc.poll() is None:
                proc.kill()
            proc.out = proc.communicate()[0]
            with contextlib.suppress(FileNotFoundError):
                os.unlink(dosdevice)
        print("== simulator (exit %s)\n%s" % (proc.returncode, proc.out.rstrip()))
        if args.sim_once and proc.returncode != 0:
            failures.append("simulator exit %s, expected 0" % proc.returncode)


def run_program(args, program, env, failures, during):
    """Runs the program while during() acts on it, then checks its exit code and output."""
    proc = subprocess.Popen([args.runner, args.prefix] + program, env=env, text=True,
                            errors="replace", stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    # Drained on a thread, so that the program never blocks on its pipes while it is driven.
    streams = []
    reader = threading.Thread(target=lambda: streams.extend(proc.communicate()))
    reader.start()
    during()
    reader.join(timeout=args.timeout)
    if reader.is_alive():
        failures.append("the program did not end within %.0f s" % args.timeout)
        proc.kill()
        reader.join()
    out, err = streams or ("", "")
    print("== program (exit %s): %s\n%s\n== its standard error\n%s" % (
        proc.returncode, " ".join(program), out.rstrip(), err.rstrip()))
    if streams and proc.returncode != args.expect_exit:
        failures.append("exit code %s, expected %d" % (proc.returncode, args.expect_exit))
    # Status lines may end in CR LF (the C runtime's text mode) or CR (a progress line).
    lines = [l for l in out.replace("\r\n", "\n").replace("\r", "\n").split("\n") if l]
    failures += ["no line %r in the program's output" % want
                 for want in args.expect_line if want not in lines]
    for line in lines if args.json else []:
        try:
            if json.loads(line).get("v") != 1:
                failures.append("a JSON line without schema version 1: %r" % line)
        except ValueError as e:
            failures.append("not a JSON line (%s): %r" % (e, line))
    failures += ["no JSON line holding %r" % want
                 for want in args.expect_json if not any(want in line for line in lines)]
    if args.expect_last is not None and lines[-1:] != [args.expect_last]:
        failures.append("last line %r, expected %r" % (lines[-1:], args.expect_last))


def registry_values(wine):
    """The key's values as {name: (type, text)}, or None when the key does not exist."""
    q = wine("reg", "query", KEY)
    found = (re.match(r"^\s+(\S+)\s+(REG_\w+)\s?(.*)$", l) for l in q.stdout.splitlines())
    return {m[1]: (m[2], m[3].strip()) for m in found if m} if q.returncode == 0 else None


def press(window, key):
    subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True)
    subprocess.run(["xdotool", "key", "--clearmodifiers", key])


def drive_window(sim, failures):
    window, deadline = None, time.monotonic() + 30
    while window is None and time.monotonic() < deadline:
        time.sleep(0.2)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                "^%s$" % re.escape(CAPTION)], capture_output=True,
                               text=True).stdout.split()
        window = found[0] if found else None
    if window is None:
        return failures.append("no window named %r appeared" % CAPTION)
    press(window, "Return")
    with contextlib.suppress(subprocess.TimeoutExpired):
        sim.wait(timeout=90)  # the simulator ends after the update
    time.sleep(2)  # the session's hand-back and final report
    press(window, "Escape")


def main():
    ap = argparse.ArgumentParser()
    for required in ("--runner", "--prefix", "--sim"):
        ap.add_argument(required, required=True)
    ap.add_argument("--com", type=int, help="run the simulator, its pty served as COM<n>")
    ap.add_argument("--sim-arg", action="append", default=[])  # simulator options, split at blanks
    for repeated in ("--expect-line", "--expect-sim", "--expect-json"):
        ap.add_argument(repeated, action="append", default=[])
    for flag in ("--sim-once", "--sim-image", "--no-display", "--json", "--window"):
        ap.add_argument(flag, action="store_true")  # --sim-image: the program's is the image
    ap.add_argument("--expect-exit", type=int, default=0)
    ap.add_argument("--expect-last")
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program or (args.window and args.com != 1):
        ap.print_usage(sys.stderr)
        return 2

    def wine(*command):
        return subprocess.run([args.runner, args.prefix] + list(command), text=True,
                              errors="replace", stdin=subprocess.DEVNULL, capture_output=True)

    failures = []
    if args.window and (not os.environ.get("DISPLAY") or not shutil.which("xdotool")):
        failures.append("needs an X display (DISPLAY, e.g. Xvfb) and xdotool")
    elif args.window:
        wine("reg", "delete", KEY, "/f")
    env = dict(os.environ)
    if args.com:
        env["KESTREL_TEST_PORT"] = "COM%d" % args.com
    if args.no_display:
        env.pop("DISPLAY", None)
    sim_args = ((["--once"] if args.sim_once else []) + ["--image"] * args.sim_image +
                program[:args.sim_image] + [w for a in args.sim_arg for w in a.split()])
    try:
        with com_port(args, sim_args, failures) if args.com else contextlib.nullcontext() as sim:
            if not failures:
                run_program(args, program, env, failures,
                            lambda: args.window and drive_window(sim, failures))
        failures += ["the simulator never said %r" % want
                     for want in args.expect_sim if want not in (sim.out if sim else "")]
    except RuntimeError as e:
        failures.append(str(e))
    expected = {"FirmwareFile": ("REG_SZ", ""), "COMPort": ("REG_SZ", "COM1"),
                "BaudRate": ("REG_SZ", "115200")}
    if args.window and registry_values(wine) != expected:
        failures.append("stored %s, expected %s" % (registry_values(wine), expected))
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
