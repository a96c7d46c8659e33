#!/usr/bin/env python3
# Runs a window program on an X display of its own (Xvfb) and presses keys on its window from
# the outside, as the operator would. Each line on standard input names a key (xdotool's names:
# Return, Escape, ...), pressed once the window (its title begins with "Kestrel") is found and
# has the focus. At the end of standard input the program is waited for (20 s at most) and its
# exit code becomes ours. Exit 125 with the reason on standard error when the display or the
# window does not come up or the program does not end. The program runs with QT_QPA_PLATFORM
# and WAYLAND_DISPLAY removed. Needs Xvfb and xdotool.
#
# usage: drive_window.py PROGRAM [ARG...]
import os
import subprocess
import sys


def drive(env, program):
    def run(*command, timeout=10):
        return subprocess.run(["xdotool"] + list(command), env=env, capture_output=True,
                              text=True, timeout=timeout)
    try:
        windows = run("search", "--sync", "--onlyvisible", "--name", "^Kestrel", timeout=30)
    except subprocess.TimeoutExpired:
        return "no Kestrel window within 30 s"
    if not windows.stdout.split():
        return "no Kestrel window: " + windows.stderr.strip()
    for key in filter(None, (line.strip() for line in sys.stdin)):
        run("windowfocus", "--sync", windows.stdout.split()[0])
        run("key", "--clearmodifiers", key)
    try:
        code = program.wait(timeout=20)
        return code if code >= 0 else 128 - code  # killed by a signal: 128 + its number
    except subprocess.TimeoutExpired:
        return "the program did not end within 20 s"


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: drive_window.py PROGRAM [ARG...]")
    # Xvfb picks a free display itself and writes its number to the pipe: no race between runs.
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "800x600x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        display = numbers.readline().strip()
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
    env["DISPLAY"] = ":" + display
    program = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, env=env) if display \
        else None
    try:
        result = drive(env, program) if program else "Xvfb did not start"
    finally:
        for p in (program, server):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
    if isinstance(result, str):
        print("drive_window: " + result, file=sys.stderr)
        return 125
    return result


if __name__ == "__main__":
    sys.exit(main())
