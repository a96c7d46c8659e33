#!/usr/bin/env python3
"""Runs one Windows program under wine, with --com N against kestrel-modem-sim on COM<N> (its
pty linked into the prefix as dosdevices/comN; the program finds the name in KESTREL_TEST_PORT),
then checks the exit code, the output and the simulator's summary.

--window: kestrel.exe on the X display instead, from the outside (xdotool): started with the
settings key removed, the window must come up with the key created empty, end on a real Escape
with exit code 2 and leave the three values in the registry; with --com, Enter first runs an
update that must bring the simulator the program's whole image. --decorated lets wine draw the
title bar (Xvfb has no window manager) for --screenshot (ImageMagick's import).
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
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
CAPTION = "Kestrel (RS232 + USB)"


@contextlib.contextmanager
def com_port(args, sim_args):
    """kestrel-modem-sim behind a pty the prefix serves as COM<n>; yields the process, whose
    lines (moment, line) a thread collects in proc.lines so that a case can act on them."""
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
            proc.lines = []
            proc.reader = threading.Thread(target=lambda: proc.lines.extend(
                (time.monotonic(), line) for line in proc.stdout), daemon=True)
            proc.reader.start()
            yield proc
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            with contextlib.suppress(FileNotFoundError):
                os.unlink(dosdevice)


def finish_simulator(proc, once, timeout, failures):
    """The simulator's output: a --once simulator must end by itself with 0, another one is
    stopped."""
    with contextlib.suppress(subprocess.TimeoutExpired):
        if not once:
            proc.terminate()
        proc.wait(timeout=timeout if once else 10)
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    proc.reader.join(timeout=10)
    out = "".join(line for _, line in proc.lines)
    print("== simulator (exit %s)\n%s" % (proc.returncode, out.rstrip()))
    if once and proc.returncode != 0:
        failures.append("simulator exit %s, expected 0" % proc.returncode)
    return out


def tree_cpu_seconds(root):
    """CPU seconds used so far by root and every process below it (wine runs the program in a
    loader process under the runner script)."""
    parent, cpu = {}, {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError, IndexError):
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            parent[int(pid)], cpu[int(pid)] = int(fields[1]), int(fields[11]) + int(fields[12])
    below, more = {root}, {root}
    while more:
        more = {pid for pid, ppid in parent.items() if ppid in below} - below
        below |= more
    return sum(cpu.get(pid, 0) for pid in below) / os.sysconf("SC_CLK_TCK")


def cpu_share_while_waiting(args, proc, sim):
    """A failure text, unless the program used at most --max-cpu-share of one core from 0.5 s
    to 3.5 s after the simulator said --quiet-after."""
    deadline, said = time.monotonic() + args.timeout, None
    while said is None and time.monotonic() < deadline:
        said = next((t for t, line in list(sim.lines) if args.quiet_after in line), None)
        time.sleep(0.05)
    if said is None:
        return "the simulator never said %r" % args.quiet_after
    time.sleep(max(0.0, said + 0.5 - time.monotonic()))
    cpu_start = tree_cpu_seconds(proc.pid)
    time.sleep(max(0.0, said + 3.5 - time.monotonic()))
    share = (tree_cpu_seconds(proc.pid) - cpu_start) / 3.0
    if proc.poll() is not None:
        return "the program ended before its quiet stretch was measured"
    print("== the program used %.1f%% of a core while waiting" % (100 * share))
    if share > args.max_cpu_share:
        return "the program used %.0f%% of a core while waiting, at most %.0f%% expected" % (
            100 * share, 100 * args.max_cpu_share)


def run_program(args, program, env, failures, sim):
    proc = subprocess.Popen([args.runner, args.prefix] + program, env=env, text=True,
                            errors="replace", stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    # Drained on a thread, so that the program never blocks on its pipes while it is measured.
    streams = []
    reader = threading.Thread(target=lambda: streams.extend(proc.communicate()))
    reader.start()
    if args.quiet_after is not None:
        failures += filter(None, [cpu_share_while_waiting(args, proc, sim)])
    reader.join(timeout=args.timeout)
    if reader.is_alive():
        failures.append("the program did not end within %.0f s" % args.timeout)
        proc.kill()
        reader.join()
    out, err = streams or ("", "")
    print("== program (exit %s): %s\n%s" % (proc.returncode, " ".join(program), out.rstrip()))
    if err.strip():
        print("== its standard error\n" + err.rstrip())
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


def run_window(args, wine, program, sim, failures):
    proc = subprocess.Popen([args.runner, args.prefix, program], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")
    try:
        window, deadline = None, time.monotonic() + 30
        while window is None and time.monotonic() < deadline:
            time.sleep(0.2)
            found = subprocess.run(["xdotool", "search", "--name", "^%s$" % re.escape(CAPTION)],
                                   capture_output=True, text=True).stdout.split()
            window = found[0] if found else None
        values = registry_values(wine) if window else None
        if window is None:
            failures.append("no window named %r appeared" % CAPTION)
        elif values is None:
            failures.append("the settings key was not created at the start")
        elif values and not sim:
            failures.append("values stored before the window was closed: %s" % values)
        if window and sim:
            press(window, "Return")
            if "result: the accepted records equal the image" not in finish_simulator(
                    sim, True, 90, failures):
                failures.append("the simulator did not receive the program's image")
            time.sleep(2)  # the session's hand-back and final report
        if window and args.screenshot:
            time.sleep(1)  # let it paint
            subprocess.run(["import", "-window", window, args.screenshot])
        if window:
            press(window, "Escape")
        try:
            out, _ = proc.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            failures.append("the program did not end after Escape")
            proc.kill()
            out, _ = proc.communicate()
        print("== program (exit %s)\n%s" % (proc.returncode, out.rstrip()))
        if proc.returncode != 2:
            failures.append("exit code %s, expected 2" % proc.returncode)
    finally:
        if proc.poll() is None:
            proc.kill()


def window_case(args, program, failures):
    if not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        return failures.append("needs an X display (DISPLAY, e.g. Xvfb) and xdotool")

    def wine(*command):
        return subprocess.run([args.runner, args.prefix] + list(command), text=True,
                              errors="replace", stdin=subprocess.DEVNULL, capture_output=True)

    wine("reg", "delete", KEY, "/f")
    if registry_values(wine) is not None:
        return failures.append("the settings key could not be removed before the start")
    port = "COM%d" % args.com if args.com else "COM1"
    if args.decorated:
        wine("reg", "add", X11_KEY, "/v", "Managed", "/d", "N", "/f")
    try:
        sim_args = ["--once", "--rate", "115200", "--image", program]
        with com_port(args, sim_args) if args.com else contextlib.nullcontext() as sim:
            if sim:
                wine("reg", "add", KEY, "/v", "COMPort", "/d", port, "/f")
            run_window(args, wine, program, sim, failures)
    finally:
        if args.decorated:
            wine("reg", "delete", X11_KEY, "/v", "Managed", "/f")
    values = registry_values(wine)
    print("== %s: %s" % (KEY, values))
    expected = {"FirmwareFile": ("REG_SZ", ""), "COMPort": ("REG_SZ", port),
                "BaudRate": ("REG_SZ", "115200")}
    if values != expected:
        failures.append("stored %s, expected %s" % (values, expected))


def main():
    ap = argparse.ArgumentParser()
    for required in ("--runner", "--prefix", "--sim"):
        ap.add_argument(required, required=True)
    ap.add_argument("--com", type=int, help="run the simulator, its pty served as COM<n>")
    ap.add_argument("--sim-arg", action="append", default=[],
                    help="options of the simulator, split at blanks")
    for repeated in ("--expect-line", "--expect-sim", "--expect-json"):
        ap.add_argument(repeated, action="append", default=[])
    for flag in ("--sim-once", "--sim-image", "--no-display", "--json", "--window", "--decorated"):
        ap.add_argument(flag, action="store_true")  # --sim-image: the program's is the image
    ap.add_argument("--expect-exit", type=int, default=0)
    ap.add_argument("--expect-last")
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--quiet-after", metavar="TEXT",
                    help="once the simulator says TEXT, the program waits: measure its CPU")
    ap.add_argument("--max-cpu-share", type=float, default=0.2)
    ap.add_argument("--screenshot")
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program or (args.window and len(program) != 1):
        ap.print_usage(sys.stderr)
        return 2

    failures = []
    env = dict(os.environ)
    if args.com:
        env["KESTREL_TEST_PORT"] = "COM%d" % args.com
    if args.no_display:
        env.pop("DISPLAY", None)
    sim_args = ((["--once"] if args.sim_once else []) + ["--image"] * args.sim_image +
                program[:args.sim_image] + [w for a in args.sim_arg for w in a.split()])
    try:
        if args.window:
            window_case(args, program[0], failures)
        elif not args.com:
            run_program(args, program, env, failures, None)
        else:
            with com_port(args, sim_args) as sim:
                run_program(args, program, env, failures, sim)
                sim_out = finish_simulator(sim, args.sim_once, 30, failures)
            failures += ["the simulator never said %r" % want
                         for want in args.expect_sim if want not in sim_out]
    except RuntimeError as e:
        failures.append(str(e))
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
