#!/usr/bin/env python3
"""The window program kestrel.exe under wine on an X display (Xvfb in CI), from the outside.

Starts it with the settings key removed, sees the window come up and the key created empty,
closes the window with the Escape key (a real key press through X), and checks the exit code
2 and the three values then stored in the registry. Optionally takes a screenshot.

With --sim, an update runs through the window first: kestrel-modem-sim serves COMN (its pty
linked into the prefix), the stored settings point the window at it, Enter presses START,
and the simulator must see the program's whole image arrive before the window is closed.

  window_program_case.py --runner WINE_RUN --prefix PREFIX [--screenshot PNG [--decorated]]
                         [--sim SIM --com N] -- PROGRAM

--decorated lets wine draw the title bar itself for the run (Xvfb has no window manager to do
it), so a screenshot shows the caption and the small icon.

Needs DISPLAY and xdotool (and ImageMagick's import for --screenshot).
Exit 0 when all held, 1 when something did not (saying what), 2 on wrong usage.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from wine_case import finish_simulator, start_simulator

KEY = r"HKLM\SOFTWARE\Norvald\Kestrel"
CAPTION = "Kestrel (RS232 + USB)"


def wine(args, runner, prefix, check=False):
    return subprocess.run([runner, prefix] + args, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, errors="replace", check=check)


def registry_values(runner, prefix):
    """The key's values as {name: (type, text)}, or None when the key does not exist."""
    q = wine(["reg", "query", KEY], runner, prefix)
    if q.returncode != 0:
        return None
    values = {}
    for line in q.stdout.splitlines():
        m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s?(.*)$", line.rstrip("\r"))
        if m:
            values[m.group(1)] = (m.group(2), m.group(3).strip())
    return values


def find_window(timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        r = subprocess.run(["xdotool", "search", "--name", "^" + re.escape(CAPTION) + "$"],
                           capture_output=True, text=True)
        ids = r.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.2)
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--screenshot")
    ap.add_argument("--decorated", action="store_true")
    ap.add_argument("--sim")
    ap.add_argument("--com", type=int)
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if len(program) != 1 or (args.sim and not args.com):
        ap.print_usage(sys.stderr)
        return 2
    if not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        print("FAILED: needs an X display (DISPLAY, e.g. Xvfb) and xdotool")
        return 1

    failures = []
    wine(["reg", "delete", KEY, "/f"], args.runner, args.prefix)
    if registry_values(args.runner, args.prefix) is not None:
        print("FAILED: the settings key could not be removed before the start")
        return 1
    expected = {"FirmwareFile": ("REG_SZ", ""), "COMPort": ("REG_SZ", "COM1"),
                "BaudRate": ("REG_SZ", "115200")}

    sim = None
    tmp = tempfile.mkdtemp(prefix="kestrel-window-")
    dosdevice = None
    if args.sim:
        port = "COM%d" % args.com
        sim, ready = start_simulator(args.sim, os.path.join(tmp, "port"),
                                     ["--once", "--rate", "115200", "--image", program[0]])
        print(ready.rstrip())
        dosdevice = os.path.join(args.prefix, "dosdevices", port.lower())
        if os.path.lexists(dosdevice):
            os.unlink(dosdevice)
        os.symlink(os.path.join(tmp, "port"), dosdevice)
        wine(["reg", "add", KEY, "/v", "COMPort", "/d", port, "/f"], args.runner, args.prefix)
        expected["COMPort"] = ("REG_SZ", port)

    x11_key = r"HKCU\Software\Wine\X11 Driver"
    if args.decorated:
        wine(["reg", "add", x11_key, "/v", "Managed", "/d", "N", "/f"], args.runner, args.prefix)
    started = time.monotonic()
    proc = subprocess.Popen([args.runner, args.prefix] + program, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")
    try:
        window = find_window(30)
        if window is None:
            failures.append("no window named %r appeared" % CAPTION)
        else:
            print("window %s up after %.1f s" % (window, time.monotonic() - started))
            values = registry_values(args.runner, args.prefix)
            if values is None:
                failures.append("the settings key was not created at the start")
            elif values and not sim:
                failures.append("values stored before the window was closed: %s" % values)
            if sim:
                subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True)
                subprocess.run(["xdotool", "key", "--clearmodifiers", "Return"], check=False)
                code, sim_out = finish_simulator(sim, True, 90)
                sim = None
                print("== simulator (exit %s)" % code)
                print(sim_out.rstrip())
                if code != 0 or "result: the accepted records equal the image" not in sim_out:
                    failures.append("the simulator did not receive the program's image")
                time.sleep(2)  # the session's hand-back and final report
            if args.screenshot:
                time.sleep(1)  # let it paint
                subprocess.run(["import", "-window", window, args.screenshot], check=False)
                print("screenshot: " + args.screenshot)
            subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True)
            subprocess.run(["xdotool", "key", "--clearmodifiers", "Escape"], check=False)
        try:
            out, _ = proc.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, _ = proc.communicate()
            failures.append("the program did not end after Escape")
        print("== program (%.1f s, exit %s)" % (time.monotonic() - started, proc.returncode))
        if out.strip():
            print(out.rstrip())
        if proc.returncode != 2:
            failures.append("exit code %s, expected 2" % proc.returncode)
    finally:
        if proc.poll() is None:
            proc.kill()
        if args.decorated:
            wine(["reg", "delete", x11_key, "/v", "Managed", "/f"], args.runner, args.prefix)
        if sim:
            finish_simulator(sim, False, 0)
        if dosdevice and os.path.lexists(dosdevice):
            os.unlink(dosdevice)
        shutil.rmtree(tmp, ignore_errors=True)

    values = registry_values(args.runner, args.prefix)
    print("== %s: %s" % (KEY, values))
    if values != expected:
        failures.append("stored %s, expected %s" % (values, expected))

    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
