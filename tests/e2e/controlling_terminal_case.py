#!/usr/bin/env python3
"""kestrel-cli run from a terminal and pointed at that terminal: refused, the terminal untouched."""

# A fresh pty is made the controlling terminal of kestrel-cli's own session, as a terminal
# window is for a shell, and the port named is that terminal: once as "tty" with every stream
# on the terminal (as an operator runs it), once by its /dev/pts path with only standard input
# there. Each run must end with exit code 1, the status "ERROR: Cannot open COM-Port." and the
# reason, leave the terminal's settings as they were, and put nothing but those two lines into
# it. Exit 0 when both runs passed, 1 with the reasons when not, 2 on wrong usage.

import argparse
import fcntl
import os
import select
import subprocess
import sys
import termios

STATUS = "ERROR: Cannot open COM-Port."


def drain(fd):
    # Everything the terminal received from the program (the master's side).
    data = b""
    while select.select([fd], [], [], 0.2)[0]:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


def run(cli, port, streams_on_terminal):
    master, slave = os.openpty()
    try:
        path = os.ttyname(slave)
        port = path if port is None else port
        before = termios.tcgetattr(master)
        out = slave if streams_on_terminal else subprocess.PIPE

        def take_control():
            # In its own session (setsid) the program takes the terminal on its stdin.
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        program = subprocess.Popen([cli, "--port", port], stdin=slave, stdout=out, stderr=out,
                                   start_new_session=True, preexec_fn=take_control)
        try:
            stdout, stderr = program.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            program.kill()
            program.communicate()
            return ["%s: did not end within 20 s" % port]
        received = drain(master)
        after = termios.tcgetattr(master)
    finally:
        os.close(master)
        os.close(slave)

    reason = "kestrel-cli: %s: is the controlling terminal" % ("/dev/tty" if port == "tty" else path)
    if streams_on_terminal:
        # The terminal translates the program's "\n" (its settings are the ones found).
        wanted = {"terminal": (STATUS + "\r\n" + reason + "\r\n").encode()}
        got = {"terminal": received}
    else:
        wanted = {"terminal": b"", "stdout": (STATUS + "\n").encode(),
                  "stderr": (reason + "\n").encode()}
        got = {"terminal": received, "stdout": stdout, "stderr": stderr}
    failures = ["%s: %s got %r, expected %r" % (port, key, got[key], wanted[key])
                for key in wanted if got[key] != wanted[key]]
    if program.returncode != 1:
        failures.append("%s: exit %s, expected 1" % (port, program.returncode))
    if after != before:
        failures.append("%s: the terminal's settings changed:\n  before %r\n  after  %r"
                        % (port, before, after))
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    cli = parser.parse_args().cli
    failures = run(cli, "tty", True) + run(cli, None, False)
    if failures:
        print("FAILED:\n- " + "\n- ".join(failures))
        return 1
    print("passed: both runs refused, the terminal untouched")
    return 0


if __name__ == "__main__":
    sys.exit(main())
