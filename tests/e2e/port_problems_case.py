#!/usr/bin/env python3
"""kestrel-cli on ports that cannot be used, and --check: the explanations an operator gets."""

# --check on a free pty (exit 0), --check on a device that does not exist (exit 3, the ports
# that do exist), an update on a port another process holds (exit 3, that process named). The
# refusals of kestrel-cli's own terminal and of a port of a group the user lacks are pinned
# with their texts by PtyOpenTest.* and PortProblem.* (tests/serial_posix).

import fcntl
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import main  # noqa: E402

STATUS = "ERROR: Cannot open COM-Port."


def port_problems(t):
    cli, env = t.args.cli, dict(os.environ, KESTREL_DEV_ROOT="/dev")

    def run(*cmd):
        return subprocess.run(cmd, capture_output=True, text=True, timeout=30, env=env)

    master, slave = os.openpty()
    path = os.ttyname(slave)
    os.close(slave)
    r = run(cli, "--check", "--port", path)
    t.expect((r.returncode, r.stdout) == (0, f"{path}: an update can start here.\n"),
             "check on a free pty: %r" % r)
    r = run(cli, "--check", "--port", "/dev/ttyUSB-kestrel-none")
    t.expect(r.returncode == 3 and r.stdout == STATUS + "\n"
             and "/dev/ttyUSB-kestrel-none: No such file or directory" in r.stderr
             and ("Serial ports on this machine:" in r.stderr
                  or "No USB serial port is there now" in r.stderr),
             "check on a missing device: %r" % r)
    holder = os.open(path, os.O_RDWR | os.O_NOCTTY)
    fcntl.flock(holder, fcntl.LOCK_EX)
    r = run(cli, "--port", path, "--no-firmware")
    t.expect(r.returncode == 3 and r.stdout == STATUS + "\n"
             and f"Process {os.getpid()} (" in r.stderr, "update on a held port: %r" % r)
    os.close(holder)
    os.close(master)


if __name__ == "__main__":
    sys.exit(main({"port_problems": port_problems}))
