#!/usr/bin/env python3
"""kestrel.exe under wine on an X display, from the outside: started with the settings key
removed, the window must come up with the key created empty, end on a real Escape key press
with exit code 2, and leave the three values in the registry. With --sim, Enter first runs an
update against kestrel-modem-sim on COMN, which must receive the program's whole image.
--decorated lets wine draw the title bar (Xvfb has no window manager) for --screenshot.
Needs DISPLAY, xdotool (and ImageMagick's import for --screenshot)."""

import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time

from wine_case import com_port, finish_simulator

KEY = r"HKLM\SOFTWARE\Norvald\Kestrel"
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
CAPTION = "Kestrel (RS232 + USB)"


def registry_values(wine):
    """The key's values as {name: (type, text)}, or None when the key does not exist."""
    q = wine("reg", "query", KEY)
    if q.returncode != 0:
        return None
    found = (re.match(r"^\s+(\S+)\s+(REG_\w+)\s?(.*)$", line) for line in q.stdout.splitlines())
    return {m.group(1): (m.group(2), m.group(3).strip()) for m in found if m}


def find_window(timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ids = subprocess.run(["xdotool", "search", "--name", "^" + re.escape(CAPTION) + "$"],
                             capture_output=True, text=True).stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.2)
    return None


def press(window, key):
    subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True)
    subprocess.run(["xdotool", "key", "--clearmodifiers", key])


def run_window(args, wine, program, sim, failures):
    proc = subprocess.Popen([args.runner, args.prefix, program], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")
    try:
        window = find_window(30)
        if window is None:
            failures.append("no window named %r appeared" % CAPTION)
        else:
            values = registry_values(wine)
            if values is None:
                failures.append("the settings key was not created at the start")
            elif values and not sim:
                failures.append("values stored before the window was closed: %s" % values)
            if sim:
                press(window, "Return")
                code, sim_out = finish_simulator(*sim, True, 90)  # sim: (process, its output)
                print("== simulator (exit %s)\n%s" % (code, sim_out.rstrip()))
                if code != 0 or "result: the accepted records equal the image" not in sim_out:
                    failures.append("the simulator did not receive the program's image")
                time.sleep(2)  # the session's hand-back and final report
            if args.screenshot:
                time.sleep(1)  # let it paint
                subprocess.run(["import", "-window", window, args.screenshot])
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

    def wine(*command):
        return subprocess.run([args.runner, args.prefix] + list(command),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              errors="replace")

    wine("reg", "delete", KEY, "/f")
    if registry_values(wine) is not None:
        print("FAILED: the settings key could not be removed before the start")
        return 1
    expected = {"FirmwareFile": ("REG_SZ", ""), "COMPort": ("REG_SZ", "COM1"),
                "BaudRate": ("REG_SZ", "115200")}
    failures = []
    if args.decorated:
        wine("reg", "add", X11_KEY, "/v", "Managed", "/d", "N", "/f")
    try:
        sim_args = ["--once", "--rate", "115200", "--image", program[0]]
        with (com_port(args.sim, args.prefix, args.com, sim_args) if args.sim
              else contextlib.nullcontext()) as sim:
            if sim:
                wine("reg", "add", KEY, "/v", "COMPort", "/d", "COM%d" % args.com, "/f")
                expected["COMPort"] = ("REG_SZ", "COM%d" % args.com)
            run_window(args, wine, program[0], sim, failures)
    finally:
        if args.decorated:
            wine("reg", "delete", X11_KEY, "/v", "Managed", "/f")

    values = registry_values(wine)
    print("== %s: %s" % (KEY, values))
    if values != expected:
        failures.append("stored %s, expected %s" % (values, expected))
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
