#!/usr/bin/env python3
"""Runs a window program on an X display of its own (Xvfb) and presses keys on its window from
the outside, as the operator would. Each line on standard input names a key (xdotool's names:
Return, Escape, ...), pressed once the window is found and has the focus. At the end of
standard input the program is waited for (20 s at most) and its exit code becomes ours.
Exit 125 with the reason on standard error when the display or the window does not come up or
the program does not end. The program runs with QT_QPA_PLATFORM and WAYLAND_DISPLAY removed.
Needs Xvfb and xdotool.

usage: drive_window.py [--name REGEX] PROGRAM [ARG...]"""

import argparse
import os
import subprocess
import sys


def fail(reason, *processes):
    for p in processes:
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()
    print("drive_window: " + reason, file=sys.stderr)
    return 125


def start_display():
    # Xvfb picks a free display itself and writes its number to the pipe: no race between runs.
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "800x600x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        number = numbers.readline().strip()
    return server, (":" + number if number else None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--name", default="^Kestrel", help="the window's title (a regex)")
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.program:
        parser.print_usage(sys.stderr)
        return 2
    server, display = start_display()
    if display is None:
        return fail("Xvfb did not start", server)
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
    env["DISPLAY"] = display
    program = subprocess.Popen(args.program, stdin=subprocess.DEVNULL, env=env)
    try:
        try:
            found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                    args.name], env=env, capture_output=True, text=True,
                                   timeout=30)
        except subprocess.TimeoutExpired:
            return fail("no window named %r within 30 s" % args.name, program)
        windows = found.stdout.split()
        if not windows:
            return fail("no window named %r: %s" % (args.name, found.stderr.strip()), program)
        for line in sys.stdin:
            key = line.strip()
            if not key:
                continue
            subprocess.run(["xdotool", "windowfocus", "--sync", windows[0]], env=env,
                           capture_output=True, timeout=10)
            subprocess.run(["xdotool", "key", "--clearmodifiers", key], env=env, timeout=10)
        try:
            code = program.wait(timeout=20)
            return code if code >= 0 else 128 - code  # killed by a signal: 128 + its number
        except subprocess.TimeoutExpired:
            return fail("the program did not end within 20 s", program)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        server.terminate()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
