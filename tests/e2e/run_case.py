#!/usr/bin/env python3
"""One end-to-end case: the packed kestrel-cli against kestrel-modem-sim over a real pty.

Each case starts the simulator on a pseudo-terminal linked into a fresh temporary folder,
runs kestrel-cli on that link (with the modem-line shim preloaded where the case needs DTR
and CTS), and checks the tool's status lines and exit code against the simulator's summary:
what the module heard, how many records its loader took, and whether they equal the image.

  run_case.py CASE --sim PATH --cli PATH --shim PATH --image PATH [--shipped-cli PATH]
              [--window PATH]

The case "window" runs the window program instead (packed with the small image) under
QT_QPA_PLATFORM=offscreen with its test drive: START is pressed once the window shows, and
closing its standard input closes the window, which must then end with exit code 2.

Exit 0 when the case passed, 1 when it failed (with the reasons), 2 on wrong usage.
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OK_LINES = [
    "Waiting for start signal.",
    "Firmware download in progress.",
    "Download succeeded, finishing update process.",
    "Download succeeded.",
]
SMALL_RECORDS = 1400


class Case:
    def __init__(self, sim=(), cli=(), shim=True, lines=OK_LINES, cli_exit=0,
                 accepted=SMALL_RECORDS, resends=0, equal=True, ended=None,
                 program="small", check=None):
        self.sim = list(sim)          # simulator options beyond --link/--once/--image
        self.cli = list(cli)          # kestrel-cli options beyond --port
        self.shim = shim              # preload the modem-line shim
        self.lines = lines            # the tool's whole standard output, line by line
        self.cli_exit = cli_exit
        self.accepted = accepted      # records the loader took
        self.resends = resends
        self.equal = equal            # the accepted records equal the image
        self.ended = ended            # the simulator ends by itself, for this reason
        self.program = program        # "small" or "shipped" packed kestrel-cli
        self.check = check            # extra check(run) -> list of failures


def check_cpu_while_waiting(run):
    # The tool sat 5 s in front of a hung-up pty: a poll loop that spins would show here.
    cpu = run.cpu_s
    if cpu > 0.2 * run.wall_s:
        return ["tool used %.2f s CPU in %.2f s wall (> 20%%)" % (cpu, run.wall_s)]
    return []


def check_rates_switched(run):
    failures = []
    rates = run.summary.get("host rates", "").split()
    # Probes at the operator's and the fast rates, found at 57600, moved to 115200 for the
    # transfer, back to 57600 for the switch-off.
    if "460800" not in rates or "230400" not in rates:
        failures.append("no probes at 460800 and 230400: host rates %s" % rates)
    if rates[-1:] != ["57600"]:
        failures.append("the last host rate is not the module's own 57600: %s" % rates)
    commands = run.summary.get("commands", "")
    for wanted in ("AT+IPR?", "AT+IPR=115200", "AT^SFDL", "AT+IPR=57600", "AT^SMSO"):
        if wanted not in commands:
            failures.append("module never heard %s: %s" % (wanted, commands))
    if commands.find("AT+IPR=115200") > commands.find("AT^SFDL"):
        failures.append("rate moved after the download command: %s" % commands)
    return failures


def check_same_rate(run):
    commands = run.summary.get("commands", "")
    failures = []
    if "AT+IPR=" in commands:
        failures.append("rate changed although the module runs at the operator's: %s" % commands)
    if run.summary.get("host rates", "").split() != ["115200"]:
        failures.append("host bytes at other rates: %s" % run.summary.get("host rates"))
    return failures


def check_usb_port_came_back(run):
    failures = []
    if "port gone from" not in run.sim_err or "port back at" not in run.sim_err:
        failures.append("the USB port did not vanish and return:\n" + run.sim_err)
    if "AT+IPR" in run.summary.get("commands", ""):
        failures.append("rate commands on a USB port: %s" % run.summary.get("commands"))
    return failures


CASES = {
    # Fallback entry: DTR restart and the blind download command at 57600. No shim: on a
    # plain pty the restart fails at once and the module boots as the port opens.
    "fallback": Case(sim=["--no-firmware"], cli=["--no-firmware"], shim=False),
    # Negotiated entry, module at the operator's rate.
    "negotiated_same_rate": Case(sim=["--rate", "115200"], cli=["--rate", "115200"],
                                 lines=["INFO: original baudrate = 115200"] + OK_LINES,
                                 check=check_same_rate),
    # Negotiated entry, module at 57600 for an operator's 115200: probes at wrong rates are
    # garbled on the pty, AT+IPR moves the module, and the hand-back moves it back and
    # switches it off. The start byte follows the download command's OK at once, so the
    # framing errors of the rate search must not spoil it.
    "negotiated_other_rate": Case(sim=["--rate", "57600", "--start-delay-ms", "0"],
                                  cli=["--rate", "115200"],
                                  lines=["INFO: original baudrate = 57600"] + OK_LINES,
                                  ended="the module was switched off",
                                  check=check_rates_switched),
    # USB: after the download command the port vanishes for longer than the tool's first
    # wait and comes back as a new pty.
    "usb": Case(sim=["--usb", "--usb-gone-ms", "2500"], cli=["--usb"],
                check=check_usb_port_came_back),
    # Every 7th block answered 0x02 once.
    "nak": Case(sim=["--no-firmware", "--nak-every", "7"], cli=["--no-firmware"],
                resends=SMALL_RECORDS // 7),
    # Block 9 answered 0x02 eleven times: sent 11 times, then the transfer ends.
    "too_many_retries": Case(sim=["--no-firmware", "--nak-every", "10:11"],
                             cli=["--no-firmware"],
                             lines=OK_LINES[:2] + ["ERROR: too many retries in block 9."],
                             cli_exit=1, accepted=9, resends=11, equal=False),
    # Block 3 answered 0x04 three times, 2 s apart: 6 s in all, longer than one answer wait.
    "busy": Case(sim=["--no-firmware", "--busy-at", "3:3", "--busy-gap-ms", "2000"],
                 cli=["--no-firmware"]),
    "fatal_block4": Case(sim=["--no-firmware", "--fatal-at", "4"], cli=["--no-firmware"],
                         lines=OK_LINES[:2] + [
                             "ERROR: fatal response (0x15) to block 4, possible version conflict."],
                         cli_exit=1, accepted=4, equal=False),
    # The module and its port vanish on block 100: the tool waits out its 5 s on a hung-up
    # pty without burning the processor.
    "vanish": Case(sim=["--no-firmware", "--vanish-at", "100"], cli=["--no-firmware"],
                   lines=OK_LINES[:2] + ["ERROR: Timout waiting fo response after block no.100"],
                   cli_exit=1, accepted=100, equal=False, ended="the module vanished",
                   check=check_cpu_while_waiting),
    # The shipped demo image, whole, over the fallback road; the simulator ends by itself.
    "shipped_image": Case(sim=["--no-firmware"], cli=["--no-firmware"], accepted=35987,
                          ended="the tool closed the port after the transfer",
                          program="shipped"),
}


class Run:
    pass


def wait_for_line(stream, deadline):
    """Reads one line from a pipe, giving up at `deadline` (monotonic seconds)."""
    line = b""
    fd = stream.fileno()
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        chunk = os.read(fd, 1)
        if not chunk:
            return None
        line += chunk
    return line.decode(errors="replace")


def parse_summary(text):
    summary = {}
    prefix = "kestrel-modem-sim: "
    for line in text.splitlines():
        if not line.startswith(prefix):
            continue
        rest = line[len(prefix):]
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


def run_case(name, case, paths):
    tmp = tempfile.mkdtemp(prefix="kestrel-e2e-%s-" % name)
    link = os.path.join(tmp, "dev", "ttyMODEM")
    side = os.path.join(tmp, "side.sock")
    program = paths.cli if case.program == "small" else paths.shipped_cli
    image = paths.image if case.program == "small" else paths.shipped_cli
    sim_cmd = [paths.sim, "--link", link, "--once", "--image", image] + case.sim
    if case.shim:
        sim_cmd += ["--side-channel", side]
    sim_err_path = os.path.join(tmp, "sim.err")
    run = Run()
    sim = None
    try:
        with open(sim_err_path, "w") as sim_err:
            sim = subprocess.Popen(sim_cmd, stdout=subprocess.PIPE, stderr=sim_err)
        ready = wait_for_line(sim.stdout, time.monotonic() + 10)
        if ready is None or "ready at" not in ready:
            return ["simulator did not get ready: %r" % ready], run

        env = dict(os.environ)
        env.pop("LD_PRELOAD", None)
        if case.shim:
            env["LD_PRELOAD"] = paths.shim
            env["KESTREL_SIM_SIDE_CHANNEL"] = side
        out_path = os.path.join(tmp, "cli.out")
        err_path = os.path.join(tmp, "cli.err")
        start = time.monotonic()
        with open(out_path, "w") as out, open(err_path, "w") as err:
            cli = subprocess.Popen([program, "--port", link] + case.cli, stdout=out, stderr=err,
                                   stdin=subprocess.DEVNULL, env=env)
            _, status, usage = os.wait4(cli.pid, 0)
            cli.returncode = os.waitstatus_to_exitcode(status)
        run.wall_s = time.monotonic() - start
        run.cpu_s = usage.ru_utime + usage.ru_stime
        run.cli_exit = cli.returncode
        with open(out_path) as f:
            run.lines = f.read().splitlines()
        with open(err_path) as f:
            run.cli_err = f.read()

        # A simulator that ends by itself must do so soon after the tool; others are stopped.
        try:
            sim.wait(timeout=5 if case.ended else 0.2)
        except subprocess.TimeoutExpired:
            sim.send_signal(signal.SIGTERM)
            sim.wait(timeout=10)
        run.sim_exit = sim.returncode
        run.sim_out = sim.stdout.read().decode(errors="replace")
        with open(sim_err_path) as f:
            run.sim_err = f.read()
        run.summary = parse_summary(run.sim_out)
    finally:
        if sim is not None and sim.poll() is None:
            sim.kill()
            sim.wait()

    failures = []
    if run.lines != case.lines:
        failures.append("status lines:\n  got      %r\n  expected %r" % (run.lines, case.lines))
    if run.cli_exit != case.cli_exit:
        failures.append("kestrel-cli exit %d, expected %d" % (run.cli_exit, case.cli_exit))
    if run.cli_err:
        failures.append("kestrel-cli wrote to standard error (not a terminal): %r" % run.cli_err)
    s = run.summary
    if s.get("accepted") != case.accepted:
        failures.append("loader accepted %s records, expected %d" % (s.get("accepted"),
                                                                     case.accepted))
    if s.get("resends") != case.resends:
        failures.append("loader asked for %s resends, expected %d" % (s.get("resends"),
                                                                      case.resends))
    equal = "equal the image" in s.get("result", "")
    if equal != case.equal:
        failures.append("image comparison: %r" % s.get("result"))
    if run.sim_exit != (0 if case.equal else 1):
        failures.append("simulator exit %s" % run.sim_exit)
    if case.ended and s.get("ended") != case.ended:
        failures.append("simulator ended with %r, expected %r" % (s.get("ended"), case.ended))
    if case.check:
        failures += case.check(run)
    if not failures:
        shutil.rmtree(tmp, ignore_errors=True)
    else:
        failures.append("files kept in " + tmp)
    return failures, run


STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def run_window_case(paths):
    """The window program, with a settings store of its own that points at the simulator."""
    tmp = tempfile.mkdtemp(prefix="kestrel-e2e-window-")
    link = os.path.join(tmp, "dev", "ttyMODEM")
    side = os.path.join(tmp, "side.sock")
    config = os.path.join(tmp, "config")
    store = os.path.join(config, "Norvald", "Kestrel.reg")
    os.makedirs(os.path.dirname(store))
    with open(store, "w", newline="") as f:
        f.write(STORE % link)
    runtime = os.path.join(tmp, "run")
    os.mkdir(runtime, 0o700)

    run = Run()
    failures = []
    sim = window = None
    try:
        with open(os.path.join(tmp, "sim.err"), "w") as sim_err:
            sim = subprocess.Popen([paths.sim, "--link", link, "--once", "--image", paths.image,
                                    "--side-channel", side],
                                   stdout=subprocess.PIPE, stderr=sim_err)
        ready = wait_for_line(sim.stdout, time.monotonic() + 10)
        if ready is None or "ready at" not in ready:
            return ["simulator did not get ready: %r" % ready], run
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", KESTREL_TEST_DRIVE="1",
                   XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime, LD_PRELOAD=paths.shim,
                   KESTREL_SIM_SIDE_CHANNEL=side)
        start = time.monotonic()
        with open(os.path.join(tmp, "window.out"), "w") as out:
            window = subprocess.Popen([paths.window], stdin=subprocess.PIPE, stdout=out,
                                      stderr=subprocess.STDOUT, env=env)
            # The update is over when the simulator says so (it ends by itself with --once).
            try:
                sim.wait(timeout=45)
            except subprocess.TimeoutExpired:
                failures.append("the simulator saw no whole update within 45 s")
            window.stdin.close()  # the operator closes the window
            try:
                window.wait(timeout=10)
            except subprocess.TimeoutExpired:
                failures.append("the window did not close")
                window.kill()
                window.wait()
        run.wall_s = time.monotonic() - start
        run.cpu_s = 0.0  # not measured for the window
        run.cli_exit = window.returncode
        run.lines = []
        if sim.poll() is None:
            sim.send_signal(signal.SIGTERM)
            sim.wait(timeout=10)
        run.sim_out = sim.stdout.read().decode(errors="replace")
        run.summary = parse_summary(run.sim_out)
    finally:
        for p in (window, sim):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()

    if window.returncode != 2:
        failures.append("window exit %s, expected 2" % window.returncode)
    if run.summary.get("accepted") != SMALL_RECORDS or sim.returncode != 0:
        failures.append("the module did not get the whole image: %r" % run.summary)
    with open(store, newline="") as f:
        saved = f.read()
    if ('"COMPort"="%s"' % link) not in saved or '"BaudRate"="115200"' not in saved:
        failures.append("the window did not keep its settings in its own store:\n" + saved)
    if not failures:
        shutil.rmtree(tmp, ignore_errors=True)
    else:
        failures.append("files kept in " + tmp)
    return failures, run


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(CASES) + ["window"])
    parser.add_argument("--sim", required=True)
    parser.add_argument("--cli", required=True, help="kestrel-cli packed with the small image")
    parser.add_argument("--image", required=True, help="the small image, as records")
    parser.add_argument("--shim", required=True)
    parser.add_argument("--shipped-cli", help="kestrel-cli packed with the shipped image")
    parser.add_argument("--window", help="the window program packed with the small image")
    paths = parser.parse_args()
    if paths.case == "window":
        if not paths.window:
            parser.error("case window needs --window")
        failures, run = run_window_case(paths)
    else:
        case = CASES[paths.case]
        if case.program == "shipped" and not paths.shipped_cli:
            parser.error("case %s needs --shipped-cli" % paths.case)
        failures, run = run_case(paths.case, case, paths)
    if hasattr(run, "wall_s"):
        print("%s: %s wall %.2f s, CPU %.3f s, exit %d" % (
            paths.case, "window" if paths.case == "window" else "kestrel-cli", run.wall_s,
            run.cpu_s, run.cli_exit))
        for line in run.lines:
            print("  | " + line)
        print(run.sim_out.rstrip())
    if failures:
        print("FAILED %s:\n- %s" % (paths.case, "\n- ".join(failures)))
        return 1
    print("passed %s" % paths.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
