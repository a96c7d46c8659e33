#!/usr/bin/env python3
"""kestrel-cli on ports that cannot be used, and --check: the explanations an operator gets."""

# --check on a free pty (exit 0), --check on a device that does not exist (exit 3, the ports
# that do exist), an update on a port another process holds (exit 3, that process named), the
# port named is kestrel-cli's own controlling terminal (exit 3, the terminal untouched), and
# --check as an unprivileged user on a port of a group the user lacks (exit 3, the group to
# join). The last needs root to switch users; without it the case is skipped (exit 77), never
# passed.

import fcntl
import os
import select
import subprocess
import sys
import termios

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Skip, main  # noqa: E402

STATUS = "ERROR: Cannot open COM-Port."


def port_problems(t):
    cli, env = t.args.cli, dict(os.environ, KESTREL_DEV_ROOT="/dev")

    def run(*cmd):
        return subprocess.run(cmd, capture_output=True, text=True, timeout=30, env=env)

    # A fresh pty as the controlling terminal of kestrel-cli's own session (as a terminal window
    # is for a shell), named as the port: refused, and nothing written to it or changed there.
    master, slave = os.openpty()
    path, before = os.ttyname(slave), termios.tcgetattr(master)
    r = subprocess.run([cli, "--port", path], stdin=slave, capture_output=True, text=True,
                       timeout=20, start_new_session=True,
                       preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    reason = "kestrel-cli: %s: is the controlling terminal\n" % path
    t.expect((r.returncode, r.stdout, r.stderr, termios.tcgetattr(master)) ==
             (3, STATUS + "\n", reason, before) and not select.select([master], [], [], 0.2)[0],
             "own terminal as the port: %r" % r)
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
    if os.geteuid() != 0:
        raise Skip("check without the port's group: needs root to run as another user")
    os.chown(path, 0, 20)  # root, group dialout
    os.chmod(path, 0o660)
    r = run("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", cli, "--check",
            "--port", path)
    t.expect(r.returncode == 3 and "Permission denied" in r.stderr and
             "is not in group dialout" in r.stderr and "sudo usermod -aG dialout" in r.stderr,
             "check without the port's group: %r" % r)
    os.close(master)


if __name__ == "__main__":
    sys.exit(main({"port_problems": port_problems}))
