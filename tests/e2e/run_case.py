#!/usr/bin/env python3
"""One end-to-end update: the packed kestrel-cli against kestrel-modem-sim over a real pty."""

# The simulator serves a pty linked into the case's folder; kestrel-cli runs on that link (with
# the modem-line shim preloaded where the case needs DTR and CTS), and its status lines,
# standard error and exit code are checked against the simulator's summary: what the module
# heard, how many records its loader took, and whether they equal the image. Some cases run
# more than one kestrel-cli (a flow of their own). The case "window" runs the window program
# (packed with the small image) instead, driven from the outside on an X display of its own
# (tests/ui/drive_window.py): Enter presses START, and after the update Escape closes the
# window, exit code 2.

import os
import re
import signal
import subprocess
import sys
import time
from types import SimpleNamespace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import RECORDS, ended, main, open_files, wait_until  # noqa: E402

OK_LINES = ["Waiting for start signal.", "Firmware download in progress.",
            "Download succeeded, finishing update process.", "Download succeeded."]
# What a successful kestrel-cli says on standard error, its records sent filled in.
FIGURES = (r"kestrel-cli: sent %d records, \d+ bytes; update [\d.]+ s, transfer [\d.]+ s at "
           r"\d+ bytes/s \(\d+ bit/s on the line\)\n")
STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def update(sim=(), cli=(), shim=True, lines=OK_LINES, cli_exit=0, accepted=RECORDS, ended=None,
           shipped=False, err=None, flow=None, once=True, sim_exit=0, says=(), heard=None,
           rates=None):
    # sim/cli: options beyond the port and image; lines: the tool's whole standard output;
    # ended: the simulator ends by itself, for this reason; err: a pattern the tool's whole
    # standard error must match (default: the figures after a success); flow(c, t, run) ->
    # failures: runs the programs instead of one kestrel-cli, filling in run as that one would;
    # once: the simulator ends after one update, else it is stopped; says: texts in the
    # simulator's output; heard, rates: patterns the module's commands and the host's rates match.
    c = SimpleNamespace(**locals())
    return lambda t: run_update(t, c)


def failed(*checks):
    # The messages of the (passed, message) pairs that did not pass.
    return [message for passed, message in checks if not passed]


def start_cli(t, c, name):
    # A kestrel-cli on the case's port, its output into NAME.out and NAME.err.
    with open(t.path(name + ".out"), "w") as out, open(t.path(name + ".err"), "w") as err:
        program = t.cli("--port", t.link, *c.cli, program=t.program, stdout=out, stderr=err)
    program.started = time.monotonic()
    return program


def finish_cli(t, program, name, run):
    # Waits for the program; what it did into run.
    run.exit, run.wall_s = program.wait(), time.monotonic() - program.started
    run.lines, run.err = t.text(name + ".out").splitlines(), t.text(name + ".err")


def second_tool_in_gap(c, t, run):
    # The fallback entry keeps the port closed for 5 s: a second kestrel-cli started on the port
    # then is refused by the first one's claim at once (the first's port still closed when it
    # has ended), and the first update goes on undisturbed.
    first = start_cli(t, c, "first")
    if not (wait_until(lambda: t.slave in open_files(first.pid), 10) and
            wait_until(lambda: t.slave not in open_files(first.pid), 10)):
        finish_cli(t, first, "first", run)
        return ["the first kestrel-cli did not open and close its port"]
    second = t.run("--port", t.link, *c.cli, timeout=20)
    in_gap = first.poll() is None and t.slave not in open_files(first.pid)
    finish_cli(t, first, "first", run)
    reason = ("kestrel-cli: %s (held by process %d): in use by another update session"
              % (t.link, first.pid))
    return failed((in_gap, "the second kestrel-cli ended after the first's gap"),
                  (second[:2] == (3, "ERROR: Cannot open COM-Port.\n") and
                   second[2].splitlines()[:1] == [reason],
                   "second kestrel-cli: %r, expected exit 3, the status line and %r first on "
                   "standard error" % (second, reason)))


def journal_files(t):
    folder = os.path.join(t.env["XDG_STATE_HOME"], "kestrel", "rate-journal")
    return [os.path.join(folder, f) for f in os.listdir(folder)] if os.path.isdir(folder) else []


def kill_after_rate_move_and_rerun(c, t, run):
    # The module at 57600, the operator at 115200: the first kestrel-cli moves the module and is
    # killed during the transfer, the module left at 115200 with the move in the rate journal.
    # The rerun finds it there (its lines say so), and the hand-back restores 57600 and switches
    # the module off; the journal is gone afterwards. The simulator keeps the module across the
    # two and tells the updates apart.
    first = start_cli(t, c, "killed")
    wait_until(lambda: "transfer began" in t.module.text() or first.poll() is not None, 60)
    first.send_signal(signal.SIGKILL)
    first.wait()
    finish_cli(t, start_cli(t, c, "rerun"), "rerun", run)
    # Each summary is whole once its last line, the image comparison, is there.
    whole = wait_until(lambda: [s for s in t.module.summaries() if "result" in s][1:], 10)
    return failed(
        (whole and whole[-1].get("module") == "configured rate 57600, switched off",
         "the rerun's summary: %r, expected 57600 restored before the switch-off" % whole),
        (not journal_files(t), "rate journal left: %r" % journal_files(t)))


def window(c, t, run):
    # The window keeps its settings in a store of its own in the case's folder; the shim goes
    # into the window program only, not into the display and the driver.
    os.makedirs(t.path("config", "Norvald"))
    with open(t.path("config", "Norvald", "Kestrel.reg"), "w", newline="") as f:
        f.write(STORE % t.link)
    preload = t.env.pop("LD_PRELOAD", None)
    start = time.monotonic()
    program = t.cli(t.args.drive, *(["env", "LD_PRELOAD=" + preload] if preload else []),
                    t.args.window, program=sys.executable, stdin=subprocess.PIPE, text=True,
                    stdout=open(t.path("out"), "w"), stderr=subprocess.STDOUT)
    program.stdin.write("Return\n")  # START
    program.stdin.flush()
    # The update is over when the simulator says so (it ends by itself with --once).
    updated = ended(t.module.proc, 45)
    program.stdin.write("Escape\n")  # the operator closes the window
    program.stdin.close()
    closed = ended(program, 10)
    run.wall_s = time.monotonic() - start
    run.exit, run.lines, run.err = program.returncode, [], ""
    saved = t.text(os.path.join("config", "Norvald", "Kestrel.reg"))
    return failed((updated, "the simulator saw no whole update within 45 s"),
                  (closed, "the window did not close"),
                  (('"COMPort"="%s"' % t.link) in saved and '"BaudRate"="115200"' in saved,
                   "the window did not keep its settings in its own store:\n" + saved))


def run_update(t, c):
    # The simulator, then the flow or one kestrel-cli; then the checks every case makes.
    t.program = t.args.shipped_cli if c.shipped else t.args.cli
    run = SimpleNamespace()
    t.link = t.path("dev", "ttyMODEM")
    options = (["--once"] if c.once else []) + list(c.sim) + ["--link", t.link]
    if c.shim:
        options += ["--side-channel", t.path("side.sock")]
        t.env.update(LD_PRELOAD=t.args.shim, KESTREL_SIM_SIDE_CHANNEL=t.path("side.sock"))
    t.module = t.sim("sim", *options, image=t.program if c.shipped else None)
    t.slave = t.module.slave
    failures = (c.flow or single_cli)(c, t, run)
    # A simulator that ends by itself must do so soon after the tool; others are stopped.
    sim_exit = t.module.stop(5 if c.ended and c.once else 0.2)
    run.sim_text = t.module.text()
    s = run.summary = (t.module.summaries() or [{}])[-1]
    print("wall %.2f s, exit %s" % (run.wall_s, run.exit))
    print("".join("  | %s\n" % line for line in run.lines) +
          "".join("  ! %s\n" % line for line in run.err.splitlines()), end="")
    err = c.err if c.err is not None else FIGURES % c.accepted
    t.failures += failures + failed(
        (run.lines == c.lines,
         "status lines:\n  got      %r\n  expected %r" % (run.lines, c.lines)),
        (run.exit == c.cli_exit, "exit %s, expected %d" % (run.exit, c.cli_exit)),
        (re.fullmatch(err, run.err, re.DOTALL),
         "standard error (not a terminal):\n  got      %r\n  expected %r" % (run.err, err)),
        ((s.get("accepted"), s.get("resends")) == (c.accepted, 0),
         "loader accepted %s records with %s resends, expected %d and none"
         % (s.get("accepted"), s.get("resends"), c.accepted)),
        ("equal the image" in s.get("result", ""), "image comparison: %r" % s.get("result")),
        (sim_exit == c.sim_exit, "simulator exit %s, expected %d" % (sim_exit, c.sim_exit)),
        (not c.ended or s.get("ended") == c.ended,
         "simulator ended with %r, expected %r" % (s.get("ended"), c.ended)),
        (re.search(c.heard or "", s.get("commands", "")),
         "the module heard %r, expected %r" % (s.get("commands"), c.heard)),
        (re.fullmatch(c.rates or ".*", s.get("host rates", "")),
         "host rates %r, expected %r" % (s.get("host rates"), c.rates)),
        *[(said in run.sim_text, "%r not in the simulator's output" % said) for said in c.says])


def single_cli(c, t, run):
    finish_cli(t, start_cli(t, c, "cli"), "cli", run)
    return []


CASES = {
    # Negotiated entry, module at 57600 for an operator's 115200: probes at wrong rates are
    # garbled on the pty, AT+IPR moves the module, and the hand-back moves it back and
    # switches it off. The start byte follows the download command's OK at once, so the
    # framing errors of the rate search must not spoil it.
    "negotiated_other_rate": update(sim=["--rate", "57600", "--start-delay-ms", "0"],
                                    cli=["--rate", "115200"],
                                    lines=["INFO: original baudrate = 57600"] + OK_LINES,
                                    ended="the module was switched off",
                                    heard=r"AT\+IPR\?.*AT\+IPR=115200.*AT\^SFDL.*"
                                          r"AT\+IPR=57600.*AT\^SMSO",
                                    rates=r"(?=.*\b460800 )(?=.*\b230400 ).* 57600"),
    # USB: after the download command the port vanishes for longer than the tool's first
    # wait and comes back as a new pty; no rate commands.
    "usb": update(sim=["--usb", "--usb-gone-ms", "2500"], cli=["--usb"],
                  says=["port gone from", "port back at"], heard=r"^((?!AT\+IPR).)*$"),
    # The shipped demo image, whole, over the fallback road; the simulator ends by itself.
    "shipped_image": update(sim=["--no-firmware"], cli=["--no-firmware"], accepted=35987,
                            ended="the tool closed the port after the transfer", shipped=True),
    # Fallback entry (DTR restart and the blind download command at 57600; no shim: on a plain
    # pty the restart fails at once and the module boots as the port opens), with a second
    # kestrel-cli on the port while the first waits out the fallback's 5 s.
    "second_tool_in_gap": update(sim=["--no-firmware"], cli=["--no-firmware"], shim=False,
                                 flow=second_tool_in_gap),
    # Killed after the rate move, then run again: the journalled rate comes back. The loader
    # takes 2 ms a block, so the kill lands well inside the transfer.
    "kill_and_rerun": update(sim=["--rate", "57600", "--answer-delay-ms", "2"],
                             cli=["--rate", "115200"],
                             lines=["INFO: original baudrate = 115200",
                                    "INFO: original baudrate = 57600 (remembered from an "
                                    "interrupted update)"] + OK_LINES,
                             ended="the module was switched off", once=False, sim_exit=1,
                             flow=kill_after_rate_move_and_rerun),
    # The window: a whole update with the small image, then closed with exit code 2.
    "window": update(lines=[], cli_exit=2, err="", flow=window),
}

if __name__ == "__main__":
    sys.exit(main(CASES))
