#!/usr/bin/env python3
"""One end-to-end case: the packed kestrel-cli against kestrel-modem-sim over a real pty."""

# The simulator serves a pty linked into a fresh temporary folder; kestrel-cli runs on that link
# (with the modem-line shim preloaded where the case needs DTR and CTS), and its status lines and
# exit code are checked against the simulator's summary: what the module heard, how many records
# its loader took, and whether they equal the image. The case "window" runs the window program
# (packed with the small image) instead, driven from the outside on an X display of its own
# (tests/ui/drive_window.py): Enter presses START, and after the update Escape closes the
# window, exit code 2.
# Exit 0 when the case passed, 1 when it failed (with the reasons), 2 on wrong usage.

import argparse
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from types import SimpleNamespace

OK_LINES = ["Waiting for start signal.", "Firmware download in progress.",
            "Download succeeded, finishing update process.", "Download succeeded."]
SMALL_RECORDS = 1400


def case(sim=(), cli=(), shim=True, lines=OK_LINES, cli_exit=0, accepted=SMALL_RECORDS,
         resends=0, equal=True, ended=None, program="small", check=None):
    # sim/cli: options beyond the link and image; lines: the tool's whole standard output;
    # ended: the simulator ends by itself, for this reason; check(run) -> list of failures.
    return SimpleNamespace(**locals())


def failed(*checks):
    # The messages of the (passed, message) pairs that did not pass.
    return [message for passed, message in checks if not passed]


def check_cpu_while_waiting(run):
    # The tool sat 5 s in front of a hung-up pty: a poll loop that spins would show here.
    return failed((run.cpu_s <= 0.2 * run.wall_s,
                   "tool used %.2f s CPU in %.2f s wall (> 20%%)" % (run.cpu_s, run.wall_s)))


def check_rates_switched(run):
    # Probes at the operator's and the fast rates, found at 57600, moved to 115200 for the
    # transfer, back to 57600 for the switch-off.
    rates, commands = run.summary.get("host rates", "").split(), run.summary.get("commands", "")
    return failed(("460800" in rates and "230400" in rates, "no probes at 460800 and 230400"),
                  (rates[-1:] == ["57600"], "the last host rate is not the module's own 57600"),
                  *[(wanted in commands, "module never heard " + wanted) for wanted in
                    ("AT+IPR?", "AT+IPR=115200", "AT^SFDL", "AT+IPR=57600", "AT^SMSO")],
                  (commands.find("AT+IPR=115200") < commands.find("AT^SFDL"),
                   "rate moved after the download command"))


def check_same_rate(run):
    return failed(("AT+IPR=" not in run.summary.get("commands", ""),
                   "rate changed although the module runs at the operator's"),
                  (run.summary.get("host rates", "").split() == ["115200"],
                   "host bytes at other rates"))


def check_usb_port_came_back(run):
    return failed(("port gone from" in run.sim_err and "port back at" in run.sim_err,
                   "the USB port did not vanish and return"),
                  ("AT+IPR" not in run.summary.get("commands", ""), "rate commands on a USB port"))


CASES = {
    # Fallback entry: DTR restart and the blind download command at 57600. No shim: on a
    # plain pty the restart fails at once and the module boots as the port opens.
    "fallback": case(sim=["--no-firmware"], cli=["--no-firmware"], shim=False),
    # Negotiated entry, module at the operator's rate.
    "negotiated_same_rate": case(sim=["--rate", "115200"], cli=["--rate", "115200"],
                                 lines=["INFO: original baudrate = 115200"] + OK_LINES,
                                 check=check_same_rate),
    # Negotiated entry, module at 57600 for an operator's 115200: probes at wrong rates are
    # garbled on the pty, AT+IPR moves the module, and the hand-back moves it back and
    # switches it off. The start byte follows the download command's OK at once, so the
    # framing errors of the rate search must not spoil it.
    "negotiated_other_rate": case(sim=["--rate", "57600", "--start-delay-ms", "0"],
                                  cli=["--rate", "115200"],
                                  lines=["INFO: original baudrate = 57600"] + OK_LINES,
                                  ended="the module was switched off",
                                  check=check_rates_switched),
    # USB: after the download command the port vanishes for longer than the tool's first
    # wait and comes back as a new pty.
    "usb": case(sim=["--usb", "--usb-gone-ms", "2500"], cli=["--usb"],
                check=check_usb_port_came_back),
    # Every 7th block answered 0x02 once.
    "nak": case(sim=["--no-firmware", "--nak-every", "7"], cli=["--no-firmware"],
                resends=SMALL_RECORDS // 7),
    # Block 9 answered 0x02 eleven times: sent 11 times, then the transfer ends.
    "too_many_retries": case(sim=["--no-firmware", "--nak-every", "10:11"],
                             cli=["--no-firmware"],
                             lines=OK_LINES[:2] + ["ERROR: too many retries in block 9."],
                             cli_exit=1, accepted=9, resends=11, equal=False),
    # Block 3 answered 0x04 three times, 2 s apart: 6 s in all, longer than one answer wait.
    "busy": case(sim=["--no-firmware", "--busy-at", "3:3", "--busy-gap-ms", "2000"],
                 cli=["--no-firmware"]),
    "fatal_block4": case(sim=["--no-firmware", "--fatal-at", "4"], cli=["--no-firmware"],
                         lines=OK_LINES[:2] + [
                             "ERROR: fatal response (0x15) to block 4, possible version conflict."],
                         cli_exit=1, accepted=4, equal=False),
    # The module and its port vanish on block 100: the tool waits out its 5 s on a hung-up
    # pty without burning the processor.
    "vanish": case(sim=["--no-firmware", "--vanish-at", "100"], cli=["--no-firmware"],
                   lines=OK_LINES[:2] + ["ERROR: Timout waiting fo response after block no.100"],
                   cli_exit=1, accepted=100, equal=False, ended="the module vanished",
                   check=check_cpu_while_waiting),
    # The shipped demo image, whole, over the fallback road; the simulator ends by itself.
    "shipped_image": case(sim=["--no-firmware"], cli=["--no-firmware"], accepted=35987,
                          ended="the tool closed the port after the transfer", program="shipped"),
}

STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def parse_summary(text):
    summary = {}
    for line in text.splitlines():
        rest = line[len("kestrel-modem-sim: "):] if line.startswith("kestrel-modem-sim: ") else ""
        m = re.match(r"update ended \((.*)\)$", rest)
        if m:
            summary["ended"] = m.group(1)
        m = re.match(r"blocks accepted (\d+), resends (\d+)", rest)
        if m:
            summary["accepted"], summary["resends"] = int(m.group(1)), int(m.group(2))
        for key in ("commands", "host rates", "result"):
            if rest.startswith(key + ":"):
                summary[key] = rest[len(key) + 1:].strip()
    return summary


def run_case(name, c, paths, tmp, run):
    # Runs the simulator and the program under test; returns the failures.
    link = os.path.join(tmp, "dev", "ttyMODEM")
    side = os.path.join(tmp, "side.sock")
    image = paths.shipped_cli if c.program == "shipped" else paths.image
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    sim_cmd = [paths.sim, "--link", link, "--once", "--image", image] + list(c.sim)
    if c.shim:
        sim_cmd += ["--side-channel", side]
        env.update(LD_PRELOAD=paths.shim, KESTREL_SIM_SIDE_CHANNEL=side)
    if name == "window":
        config = os.path.join(tmp, "config")
        os.makedirs(os.path.join(config, "Norvald"))
        with open(os.path.join(config, "Norvald", "Kestrel.reg"), "w", newline="") as f:
            f.write(STORE % link)
        os.mkdir(os.path.join(tmp, "run"), 0o700)
        env.update(XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=os.path.join(tmp, "run"))
    sim = program = None
    failures = []
    try:
        with open(os.path.join(tmp, "sim.err"), "w") as sim_err:
            sim = subprocess.Popen(sim_cmd, stdout=subprocess.PIPE, stderr=sim_err)
        ready = sim.stdout.readline() if select.select([sim.stdout], [], [], 10)[0] else b""
        if b"ready at" not in ready:
            return ["simulator did not get ready: %r" % ready]
        start = time.monotonic()
        with open(os.path.join(tmp, "out"), "w") as out, open(os.path.join(tmp, "err"), "w") as err:
            if name == "window":
                # The shim goes into the window program only, not into the display and the driver.
                preload = env.pop("LD_PRELOAD", None)
                window = (["env", "LD_PRELOAD=" + preload] if preload else []) + [paths.window]
                program = subprocess.Popen([sys.executable, paths.drive] + window,
                                           stdin=subprocess.PIPE, stdout=out, stderr=err, env=env,
                                           text=True)
                program.stdin.write("Return\n")  # START
                program.stdin.flush()
                # The update is over when the simulator says so (it ends by itself with --once).
                try:
                    sim.wait(timeout=45)
                except subprocess.TimeoutExpired:
                    failures.append("the simulator saw no whole update within 45 s")
                program.stdin.write("Escape\n")  # the operator closes the window
                program.stdin.close()
                try:
                    program.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    failures.append("the window did not close")
                usage = None
            else:
                cli = paths.shipped_cli if c.program == "shipped" else paths.cli
                program = subprocess.Popen([cli, "--port", link] + list(c.cli), stdout=out,
                                           stderr=err, stdin=subprocess.DEVNULL, env=env)
                _, status, usage = os.wait4(program.pid, 0)
                program.returncode = os.waitstatus_to_exitcode(status)
        run.wall_s = time.monotonic() - start
        run.cpu_s = usage.ru_utime + usage.ru_stime if usage else 0.0  # not measured for the window
        run.exit = program.returncode
        # A simulator that ends by itself must do so soon after the tool; others are stopped.
        try:
            sim.wait(timeout=5 if c.ended else 0.2)
        except subprocess.TimeoutExpired:
            sim.terminate()
            sim.wait(timeout=10)
        run.sim_out = sim.stdout.read().decode(errors="replace")
    finally:
        for p in (program, sim):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
    def text(name):
        with open(os.path.join(tmp, name), newline="") as f:
            return f.read()
    run.lines = [] if name == "window" else text("out").splitlines()
    run.err = "" if name == "window" else text("err")
    run.sim_err = text("sim.err")
    s = run.summary = parse_summary(run.sim_out)
    if name == "window":
        saved = text(os.path.join("config", "Norvald", "Kestrel.reg"))
        failures += failed((('"COMPort"="%s"' % link) in saved and '"BaudRate"="115200"' in saved,
                            "the window did not keep its settings in its own store:\n" + saved))
    return failures + failed(
        (run.lines == c.lines,
         "status lines:\n  got      %r\n  expected %r" % (run.lines, c.lines)),
        (run.exit == c.cli_exit, "exit %s, expected %d" % (run.exit, c.cli_exit)),
        (not run.err, "kestrel-cli wrote to standard error (not a terminal): %r" % run.err),
        ((s.get("accepted"), s.get("resends")) == (c.accepted, c.resends),
         "loader accepted %s records with %s resends, expected %d and %d"
         % (s.get("accepted"), s.get("resends"), c.accepted, c.resends)),
        (("equal the image" in s.get("result", "")) == c.equal,
         "image comparison: %r" % s.get("result")),
        (sim.returncode == (0 if c.equal else 1), "simulator exit %s" % sim.returncode),
        (not c.ended or s.get("ended") == c.ended,
         "simulator ended with %r, expected %r" % (s.get("ended"), c.ended)),
    ) + (c.check(run) if c.check else [])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(CASES) + ["window"])
    for option in ("--sim", "--cli", "--image", "--shim"):
        parser.add_argument(option, required=True)
    parser.add_argument("--shipped-cli")
    parser.add_argument("--window")
    parser.add_argument("--drive", help="tests/ui/drive_window.py, for the case window")
    paths = parser.parse_args()
    # The window: a whole update with the small image, then closed with exit code 2.
    c = CASES.get(paths.case) or case(lines=[], cli_exit=2)
    if paths.case == "window" and not (paths.window and paths.drive):
        parser.error("case window needs --window and --drive")
    if c.program == "shipped" and not paths.shipped_cli:
        parser.error("case %s needs --shipped-cli" % paths.case)
    tmp = tempfile.mkdtemp(prefix="kestrel-e2e-%s-" % paths.case)
    run = SimpleNamespace()
    failures = run_case(paths.case, c, paths, tmp, run)
    if hasattr(run, "wall_s"):
        print("%s: wall %.2f s, CPU %.3f s, exit %s"
              % (paths.case, run.wall_s, run.cpu_s, run.exit))
        for line in run.lines:
            print("  | " + line)
        print(run.sim_out.rstrip())
    if failures:
        print("FAILED %s:\n- %s\n- files kept in %s" % (paths.case, "\n- ".join(failures), tmp))
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed %s" % paths.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
