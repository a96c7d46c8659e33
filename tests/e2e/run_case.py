#!/usr/bin/env python3
"""One end-to-end update: the packed kestrel-cli against kestrel-modem-sim over a real pty."""

# The simulator serves a pty linked into the case's folder (or the port of a simulated device
# tree there); kestrel-cli runs on that link (with the modem-line shim preloaded where the case
# needs DTR and CTS), and its status lines, standard error and exit code are checked against the
# simulator's summary: what the module heard, how many records its loader took, and whether they
# equal the image. Some cases run more than one kestrel-cli (a flow of their own). The case
# "window" runs the window program (packed with the small image) instead, driven from the
# outside on an X display of its own (tests/ui/drive_window.py): Enter presses START, and after
# the update Escape closes the window, exit code 2.

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
# What a failed kestrel-cli that talked to the module says on standard error: where the
# transcript of the line was kept.
TRANSCRIPT_KEPT = r"kestrel-cli: transcript of the line in \S+/state/kestrel/kestrel-\S+\.log\n"
# What a successful kestrel-cli says on standard error, its records sent filled in.
FIGURES = (r"kestrel-cli: sent %d records, \d+ bytes; update [\d.]+ s, transfer [\d.]+ s at "
           r"\d+ bytes/s \(\d+ bit/s on the line\)\n")
STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def update(sim=(), cli=(), shim=True, lines=OK_LINES, cli_exit=0, accepted=RECORDS, resends=0,
           equal=True, ended=None, shipped=False, err=None, tree=False, flow=None, once=True,
           sim_exit=None, says=(), heard=None, rates=None, cpu_share=None, min_wall_s=0):
    # sim/cli: options beyond the port and image; lines: the tool's whole standard output
    # ("{dev}" stands for the device tree's dev folder, in says too); ended: the simulator ends
    # by itself, for this reason; err: a pattern the tool's whole standard error must match
    # (default: the figures after a success, the transcript line after a failure); tree: the
    # port in a simulated device tree; flow(c, t, run) -> failures: runs the programs instead
    # of one kestrel-cli, filling in run as that one would; once: the simulator ends after one
    # update, else it is stopped; sim_exit: the simulator's exit code (default: 0 when the
    # records equal the image, else 1); says: texts in the simulator's output ("!": not in it);
    # heard, rates: patterns the module's commands and the host's rates match; cpu_share: most
    # of the wall time the tool may spend on the processor; min_wall_s: its least wall time.
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
    _, status, usage = os.wait4(program.pid, 0)
    run.exit = program.returncode = os.waitstatus_to_exitcode(status)
    run.wall_s, run.cpu_s = time.monotonic() - program.started, usage.ru_utime + usage.ru_stime
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
    # The rerun finds it there, takes the journalled original rate, and the hand-back restores
    # it and switches the module off; the journal is gone afterwards. The simulator keeps the
    # module across the two and tells the updates apart.
    first = start_cli(t, c, "killed")
    wait_until(lambda: "transfer began" in t.module.text() or first.poll() is not None, 60)
    first.send_signal(signal.SIGKILL)
    first.wait()
    seen = t.text("killed.out").splitlines()
    journal = journal_files(t)
    journalled = t.text(journal[0]) if len(journal) == 1 else ""
    finish_cli(t, start_cli(t, c, "rerun"), "rerun", run)
    # Each summary is whole once its last line, the image comparison, is there.
    def whole():
        return [s for s in t.module.summaries() if "result" in s]
    summaries = wait_until(lambda: whole()[1:] and whole(), 10) or t.module.summaries()
    killed = summaries[0] if len(summaries) == 2 else {}
    last = summaries[-1] if summaries else {}
    first_lines = ["INFO: original baudrate = 57600", "Waiting for start signal.",
                   "Firmware download in progress."]
    return failed(
        (seen == first_lines, "killed kestrel-cli's lines %r, expected %r" % (seen, first_lines)),
        ("original 57600\n" in journalled and "moved 115200\n" in journalled,
         "rate journal after the kill: %r" % journalled),
        (len(summaries) == 2, "%d simulator summaries, expected 2" % len(summaries)),
        (killed.get("ended") == "another update began" and
         killed.get("accepted", RECORDS) < RECORDS and
         killed.get("module") == "configured rate 115200, off",
         "killed update's summary: %r, expected the module left at 115200" % killed),
        (last.get("module") == "configured rate 57600, switched off" and
         "AT+IPR=57600 | AT^SMSO" in last.get("commands", ""),
         "the rerun's summary: %r, expected 57600 restored before the switch-off" % last),
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
    run.wall_s, run.cpu_s = time.monotonic() - start, 0.0  # CPU not measured here
    run.exit, run.lines, run.err = program.returncode, [], ""
    saved = t.text(os.path.join("config", "Norvald", "Kestrel.reg"))
    return failed((updated, "the simulator saw no whole update within 45 s"),
                  (closed, "the window did not close"),
                  (('"COMPort"="%s"' % t.link) in saved and '"BaudRate"="115200"' in saved,
                   "the window did not keep its settings in its own store:\n" + saved))


def run_update(t, c):
    # The simulator, then the flow or one kestrel-cli; then the checks every case makes.
    t.program = t.args.shipped_cli if c.shipped else t.args.cli
    run = SimpleNamespace(dev="")
    options = (["--once"] if c.once else []) + list(c.sim)
    run.dev = os.path.join(t.tree, "dev") if c.tree else ""
    t.link = os.path.join(run.dev, "ttyACM0") if c.tree else t.path("dev", "ttyMODEM")
    options += ["--device-tree", t.tree] if c.tree else ["--link", t.link]
    if c.tree:
        t.use_tree()
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
    print("wall %.2f s, CPU %.3f s, exit %s" % (run.wall_s, run.cpu_s, run.exit))
    print("".join("  | %s\n" % line for line in run.lines) +
          "".join("  ! %s\n" % line for line in run.err.splitlines()), end="")
    lines = [line.format(dev=run.dev) for line in c.lines]
    err = (c.err.format(dev=re.escape(run.dev)) if c.err is not None else
           FIGURES % (c.accepted + c.resends) if c.cli_exit == 0 else TRANSCRIPT_KEPT)
    wanted_sim_exit = c.sim_exit if c.sim_exit is not None else (0 if c.equal else 1)
    t.failures += failures + failed(
        (run.lines == lines, "status lines:\n  got      %r\n  expected %r" % (run.lines, lines)),
        (run.exit == c.cli_exit, "exit %s, expected %d" % (run.exit, c.cli_exit)),
        (re.fullmatch(err, run.err, re.DOTALL),
         "standard error (not a terminal):\n  got      %r\n  expected %r" % (run.err, err)),
        ((s.get("accepted"), s.get("resends")) == (c.accepted, c.resends),
         "loader accepted %s records with %s resends, expected %d and %d"
         % (s.get("accepted"), s.get("resends"), c.accepted, c.resends)),
        (("equal the image" in s.get("result", "")) == c.equal,
         "image comparison: %r" % s.get("result")),
        (sim_exit == wanted_sim_exit, "simulator exit %s, expected %d" % (sim_exit,
                                                                           wanted_sim_exit)),
        (not c.ended or s.get("ended") == c.ended,
         "simulator ended with %r, expected %r" % (s.get("ended"), c.ended)),
        (re.search(c.heard or "", s.get("commands", "")),
         "the module heard %r, expected %r" % (s.get("commands"), c.heard)),
        (re.fullmatch(c.rates or ".*", s.get("host rates", "")),
         "host rates %r, expected %r" % (s.get("host rates"), c.rates)),
        (not c.cpu_share or run.cpu_s <= c.cpu_share * run.wall_s,
         "tool used %.2f s CPU in %.2f s wall" % (run.cpu_s, run.wall_s)),
        (run.wall_s >= c.min_wall_s, "the tool ended after %.1f s" % run.wall_s),
        *[((said[0] != "!") == (said.lstrip("!") in run.sim_text),
           "%r %s the simulator's output" % (said, "in" if said[0] == "!" else "not in"))
          for said in (x.format(dev=run.dev) for x in c.says)])


def single_cli(c, t, run):
    finish_cli(t, start_cli(t, c, "cli"), "cli", run)
    return []


CASES = {
    # Fallback entry: DTR restart and the blind download command at 57600. No shim: on a
    # plain pty the restart fails at once and the module boots as the port opens.
    "fallback": update(sim=["--no-firmware"], cli=["--no-firmware"], shim=False),
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
    # The module and its port vanish on block 100: the tool waits out its 5 s on a hung-up
    # pty without burning the processor.
    "vanish": update(sim=["--no-firmware", "--vanish-at", "100"], cli=["--no-firmware"],
                     lines=OK_LINES[:2] + ["ERROR: Timout waiting fo response after block no.100"],
                     cli_exit=6, accepted=100, equal=False, ended="the module vanished",
                     cpu_share=0.2),
    # The shipped demo image, whole, over the fallback road; the simulator ends by itself.
    "shipped_image": update(sim=["--no-firmware"], cli=["--no-firmware"], accepted=35987,
                            ended="the tool closed the port after the transfer", shipped=True),
    # The loader answers block 700 twice and refuses block 701 once: the extra answer must be
    # dropped (the pty's input flushed) before block 701 goes out, or the tool takes it for
    # 701's, sends 702, and then resends 702 where the loader asked for 701 again.
    "double_ack": update(sim=["--no-firmware", "--double-ack-at", "700", "--nak-every", "702"],
                         cli=["--no-firmware"], shim=False, resends=1),
    # A second kestrel-cli on the port while the first waits out the fallback's 5 s.
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
    # USB in a simulated device tree: the port returns as ttyACM1 on the same USB device and
    # interface, and the tool follows it there (opens the returned port) ...
    "usb_renamed": update(sim=["--usb", "--usb-gone-ms", "2500", "--usb-return-as", "ttyACM1"],
                          cli=["--usb"], tree=True,
                          lines=["INFO: USB port returned as {dev}/ttyACM1."] + OK_LINES,
                          says=["port gone from {dev}/ttyACM0", "port back at {dev}/ttyACM1",
                                "the tool opened the returned port"]),
    # ... or as ttyACM1 on another USB device: not the module's port, whatever its name: never
    # opened, and given up only after the whole wait (2 s, then 80 attempts 100 ms apart).
    "usb_elsewhere": update(sim=["--usb", "--usb-gone-ms", "2500", "--usb-return-elsewhere"],
                            cli=["--usb"], tree=True, lines=["ERROR: Cannot reopen USB port."],
                            cli_exit=5, accepted=0, equal=False,
                            err=r"kestrel-cli: {dev}/ttyACM0: No such file or directory\n.*",
                            says=["port back at {dev}/ttyACM1",
                                  "!the tool opened the returned port"], min_wall_s=10),
    # The window: a whole update with the small image, then closed with exit code 2.
    "window": update(lines=[], cli_exit=2, err="", flow=window),
}

if __name__ == "__main__":
    sys.exit(main(CASES))
