#!/usr/bin/env python3
"""One end-to-end case: the packed kestrel-cli against kestrel-modem-sim over a real pty."""

# The simulator serves a pty linked into a fresh temporary folder (or the port of a simulated
# device tree there); kestrel-cli runs on that link (with the modem-line shim preloaded where
# the case needs DTR and CTS), and its status lines, standard error and exit code are checked
# against the simulator's summary: what the module heard, how many records its loader took, and
# whether they equal the image. Some cases run more than one kestrel-cli (a flow of their own).
# The case "window" runs the window program (packed with the small image) instead, driven from
# the outside on an X display of its own (tests/ui/drive_window.py): Enter presses START, and
# after the update Escape closes the window, exit code 2. Every program runs with its XDG
# folders in the case's temporary folder: no case writes into the real home.
# Exit 0 when the case passed, 1 when it failed (with the reasons), 2 on wrong usage.

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from types import SimpleNamespace

OK_LINES = ["Waiting for start signal.", "Firmware download in progress.",
            "Download succeeded, finishing update process.", "Download succeeded."]
SMALL_RECORDS = 1400
# What a failed kestrel-cli that talked to the module says on standard error: where the
# transcript of the line was kept.
TRANSCRIPT_KEPT = r"kestrel-cli: transcript of the line in \S+/state/kestrel/kestrel-\S+\.log\n"
# What a successful kestrel-cli says on standard error, its records sent filled in.
FIGURES = (r"kestrel-cli: sent %d records, \d+ bytes; update [\d.]+ s, transfer [\d.]+ s at "
           r"\d+ bytes/s \(\d+ bit/s on the line\)\n")


def case(sim=(), cli=(), shim=True, lines=OK_LINES, cli_exit=0, accepted=SMALL_RECORDS,
         resends=0, equal=True, ended=None, program="small", check=None, err=None, tree=False,
         flow=None, once=True, sim_exit=None):
    # sim/cli: options beyond the port and image; lines: the tool's whole standard output
    # ("{dev}" stands for the device tree's dev folder); ended: the simulator ends by itself,
    # for this reason; check(run) -> list of failures; err: a pattern the tool's whole standard
    # error must match (default: the figures after a success, nothing after a failure);
    # tree: the port in a simulated device tree (KESTREL_SYSFS_ROOT, KESTREL_DEV_ROOT);
    # flow(c, ctx, run) -> failures: runs the programs instead of one kestrel-cli, filling in
    # run as that one would; once: the simulator ends after one update, else it is stopped;
    # sim_exit: the simulator's exit code (default: 0 when the records equal the image, else 1).
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


def check_usb_returned_renamed(run):
    # Gone from its name, back under another on the same USB device, and opened there.
    return failed(("port gone from %s/ttyACM0" % run.dev in run.sim_err and
                   "port back at %s/ttyACM1" % run.dev in run.sim_err,
                   "the port did not return as ttyACM1"),
                  ("the tool opened the returned port" in run.sim_err,
                   "the tool never opened the returned port"))


def check_usb_never_followed(run):
    # A tty on another USB device is not the module's, whatever its name: never opened, and
    # given up only after the whole wait (2 s, then 80 attempts 100 ms apart).
    return failed(("port back at %s/ttyACM1" % run.dev in run.sim_err,
                   "the port did not return on the other USB device"),
                  ("the tool opened the returned port" not in run.sim_err,
                   "the tool opened a port on another USB device"),
                  (run.wall_s >= 10.0, "gave up after %.1f s, before the reopen wait" % run.wall_s))


def wait_until(predicate, timeout_s):
    # predicate()'s first true value within timeout_s, else its last value.
    deadline = time.monotonic() + timeout_s
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(0.01)


def holds(pid, path):
    # Whether the process has `path` open.
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                return True
        except OSError:
            pass
    return False


def start_cli(ctx, c, name):
    # A kestrel-cli on the case's port, its output into files named after `name`.
    with open(ctx.path(name + ".out"), "w") as out, open(ctx.path(name + ".err"), "w") as err:
        program = subprocess.Popen([ctx.cli, "--port", ctx.link] + list(c.cli), stdout=out,
                                   stderr=err, stdin=subprocess.DEVNULL, env=ctx.env)
    program.started = time.monotonic()
    ctx.programs.append(program)
    return program


def finish_cli(ctx, program, name, run):
    # Waits for the program; what it did into run.
    _, status, usage = os.wait4(program.pid, 0)
    program.returncode = os.waitstatus_to_exitcode(status)
    run.wall_s = time.monotonic() - program.started
    run.cpu_s = usage.ru_utime + usage.ru_stime
    run.exit = program.returncode
    run.lines = ctx.text(name + ".out").splitlines()
    run.err = ctx.text(name + ".err")


def second_tool_in_gap(c, ctx, run):
    # The fallback entry keeps the port closed for 5 s: a second kestrel-cli started on the port
    # then is refused by the first one's claim at once (the first's port still closed when it
    # has ended), and the first update goes on undisturbed.
    first = start_cli(ctx, c, "first")
    if not (wait_until(lambda: holds(first.pid, ctx.slave), 10) and
            wait_until(lambda: not holds(first.pid, ctx.slave), 10)):
        finish_cli(ctx, first, "first", run)
        return ["the first kestrel-cli did not open and close its port"]
    try:
        done = subprocess.run([ctx.cli, "--port", ctx.link] + list(c.cli), env=ctx.env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=20)
        second = SimpleNamespace(exit=done.returncode, out=done.stdout, err=done.stderr)
    except subprocess.TimeoutExpired:
        second = SimpleNamespace(exit="none (killed after 20 s)", out="", err="")
    in_gap = first.poll() is None and not holds(first.pid, ctx.slave)
    finish_cli(ctx, first, "first", run)
    reason = ("kestrel-cli: %s (held by process %d): in use by another update session"
              % (ctx.link, first.pid))
    return failed((in_gap, "the second kestrel-cli ended after the first's gap"),
                  (second.exit == 3, "second kestrel-cli: exit %s, expected 3" % second.exit),
                  (second.out == "ERROR: Cannot open COM-Port.\n",
                   "second kestrel-cli: standard output %r" % second.out),
                  (second.err.splitlines()[:1] == [reason],
                   "second kestrel-cli: standard error %r, expected %r first"
                   % (second.err, reason)))


def journal_files(ctx):
    folder = os.path.join(ctx.env["XDG_STATE_HOME"], "kestrel", "rate-journal")
    return [os.path.join(folder, f) for f in os.listdir(folder)] if os.path.isdir(folder) else []


def kill_after_rate_move_and_rerun(c, ctx, run):
    # The module at 57600, the operator at 115200: the first kestrel-cli moves the module and is
    # killed during the transfer, the module left at 115200 with the move in the rate journal.
    # The rerun finds it there, takes the journalled original rate, and the hand-back restores
    # it and switches the module off; the journal is gone afterwards. The simulator keeps the
    # module across the two and tells the updates apart.
    first = start_cli(ctx, c, "killed")
    wait_until(lambda: "transfer began" in ctx.text("sim.err") or first.poll() is not None, 60)
    first.send_signal(signal.SIGKILL)
    first.wait()
    seen = ctx.text("killed.out").splitlines()
    journal = journal_files(ctx)
    journalled = ctx.text(journal[0]) if len(journal) == 1 else ""
    finish_cli(ctx, start_cli(ctx, c, "rerun"), "rerun", run)

    def both_summaries():
        # Each summary is whole once its last line, the image comparison, is there.
        found = [s for s in parse_summaries(ctx.text("sim.out")) if "result" in s]
        return found if len(found) >= 2 else None
    summaries = wait_until(both_summaries, 10) or parse_summaries(ctx.text("sim.out"))
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
         killed.get("accepted", SMALL_RECORDS) < SMALL_RECORDS,
         "killed update's summary: %r" % killed),
        (killed.get("module") == "configured rate 115200, off",
         "the module after the kill: %r, expected at 115200" % killed.get("module")),
        (last.get("module") == "configured rate 57600, switched off",
         "the module after the rerun: %r, expected back at 57600, switched off"
         % last.get("module")),
        ("AT+IPR=57600 | AT^SMSO" in last.get("commands", ""),
         "the rerun did not restore 57600 before the switch-off"),
        (not journal_files(ctx), "rate journal left: %r" % journal_files(ctx)))


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
    "fatal_block4": case(sim=["--no-firmware", "--fatal-at", "4"], cli=["--no-firmware"],
                         lines=OK_LINES[:2] + [
                             "ERROR: fatal response (0x15) to block 4, possible version conflict."],
                         cli_exit=6, accepted=4, equal=False),
    # The module and its port vanish on block 100: the tool waits out its 5 s on a hung-up
    # pty without burning the processor.
    "vanish": case(sim=["--no-firmware", "--vanish-at", "100"], cli=["--no-firmware"],
                   lines=OK_LINES[:2] + ["ERROR: Timout waiting fo response after block no.100"],
                   cli_exit=6, accepted=100, equal=False, ended="the module vanished",
                   check=check_cpu_while_waiting),
    # The shipped demo image, whole, over the fallback road; the simulator ends by itself.
    "shipped_image": case(sim=["--no-firmware"], cli=["--no-firmware"], accepted=35987,
                          ended="the tool closed the port after the transfer", program="shipped"),
    # The loader answers block 700 twice and refuses block 701 once: the extra answer must be
    # dropped before block 701 goes out, or the tool takes it for 701's, sends 702, and then
    # resends 702 where the loader asked for 701 again.
    "double_ack": case(sim=["--no-firmware", "--double-ack-at", "700", "--nak-every", "702"],
                       cli=["--no-firmware"], shim=False, resends=1),
    # The last block answered twice: which block the loader took is unknown, so no success.
    "double_ack_last": case(sim=["--no-firmware", "--double-ack-at", "1399"],
                            cli=["--no-firmware"], shim=False, cli_exit=6,
                            lines=OK_LINES[:2] + [
                                "ERROR: unexpected or fatal response (0x01) to block 1399."]),
    # A second kestrel-cli on the port while the first waits out the fallback's 5 s.
    "second_tool_in_gap": case(sim=["--no-firmware"], cli=["--no-firmware"], shim=False,
                               flow=second_tool_in_gap),
    # Killed after the rate move, then run again: the journalled rate comes back. The loader
    # takes 2 ms a block, so the kill lands well inside the transfer.
    "kill_and_rerun": case(sim=["--rate", "57600", "--answer-delay-ms", "2"],
                           cli=["--rate", "115200"],
                           lines=["INFO: original baudrate = 115200",
                                  "INFO: original baudrate = 57600 (remembered from an "
                                  "interrupted update)"] + OK_LINES,
                           ended="the module was switched off", once=False, sim_exit=1,
                           flow=kill_after_rate_move_and_rerun),
    # USB in a simulated device tree: the port returns as ttyACM1 on the same USB device and
    # interface, and the tool follows it there.
    "usb_renamed": case(sim=["--usb", "--usb-gone-ms", "2500", "--usb-return-as", "ttyACM1"],
                        cli=["--usb"], tree=True,
                        lines=["INFO: USB port returned as {dev}/ttyACM1."] + OK_LINES,
                        check=check_usb_returned_renamed),
    # ... or as ttyACM1 on another USB device: not the module's port.
    "usb_elsewhere": case(sim=["--usb", "--usb-gone-ms", "2500", "--usb-return-elsewhere"],
                          cli=["--usb"], tree=True, lines=["ERROR: Cannot reopen USB port."],
                          cli_exit=5, accepted=0, equal=False,
                          err=r"kestrel-cli: {dev}/ttyACM0: No such file or directory\n.*",
                          check=check_usb_never_followed),
}

STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def parse_summaries(text):
    # The simulator's summaries, one a dict per update, in order.
    summaries = []
    for line in text.splitlines():
        rest = line[len("kestrel-modem-sim: "):] if line.startswith("kestrel-modem-sim: ") else ""
        m = re.match(r"update ended \((.*)\)$", rest)
        if m:
            summaries.append({"ended": m.group(1)})
        if not summaries:
            continue
        summary = summaries[-1]
        m = re.match(r"blocks accepted (\d+), resends (\d+)", rest)
        if m:
            summary["accepted"], summary["resends"] = int(m.group(1)), int(m.group(2))
        for key in ("commands", "host rates", "module", "result"):
            if rest.startswith(key + ":"):
                summary[key] = rest[len(key) + 1:].strip()
    return summaries


def parse_summary(text):
    # The last update's summary.
    summaries = parse_summaries(text)
    return summaries[-1] if summaries else {}


def case_environment(tmp):
    # The XDG folders in the case's folder: the rate journal, the window's settings store and
    # the port claim's runtime folder never touch the real home.
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    for variable, folder in (("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                             ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "run")):
        env[variable] = os.path.join(tmp, folder)
        os.mkdir(env[variable], 0o700)
    return env


def run_case(name, c, paths, tmp, run):
    # Runs the simulator and the program under test; returns the failures.
    ctx = SimpleNamespace(env=case_environment(tmp), programs=[],
                          cli=paths.shipped_cli if c.program == "shipped" else paths.cli,
                          path=lambda f: os.path.join(tmp, f))

    def text(f):
        with open(ctx.path(f), newline="") as stream:
            return stream.read()
    ctx.text = text
    image = paths.shipped_cli if c.program == "shipped" else paths.image
    sim_cmd = [paths.sim, "--image", image] + (["--once"] if c.once else []) + list(c.sim)
    run.dev = ""
    if c.tree:
        tree = os.path.join(tmp, "tree")
        run.dev = os.path.join(tree, "dev")
        ctx.link = os.path.join(run.dev, "ttyACM0")
        sim_cmd += ["--device-tree", tree]
        ctx.env.update(KESTREL_SYSFS_ROOT=os.path.join(tree, "sys"), KESTREL_DEV_ROOT=run.dev)
    else:
        ctx.link = os.path.join(tmp, "dev", "ttyMODEM")
        sim_cmd += ["--link", ctx.link]
    env = ctx.env
    if c.shim:
        side = os.path.join(tmp, "side.sock")
        sim_cmd += ["--side-channel", side]
        env.update(LD_PRELOAD=paths.shim, KESTREL_SIM_SIDE_CHANNEL=side)
    if name == "window":
        os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "Norvald"))
        with open(os.path.join(env["XDG_CONFIG_HOME"], "Norvald", "Kestrel.reg"), "w",
                  newline="") as f:
            f.write(STORE % ctx.link)
    sim = None
    failures = []
    try:
        with open(ctx.path("sim.out"), "w") as sim_out, open(ctx.path("sim.err"), "w") as sim_err:
            sim = subprocess.Popen(sim_cmd, stdout=sim_out, stderr=sim_err)
        ready = wait_until(lambda: re.search(r"ready at .* \((.*)\)\n", text("sim.out")), 10)
        if not ready:
            return ["simulator did not get ready: %r" % text("sim.out")]
        ctx.slave = ready.group(1)
        if name == "window":
            # The shim goes into the window program only, not into the display and the driver.
            preload = env.pop("LD_PRELOAD", None)
            window = (["env", "LD_PRELOAD=" + preload] if preload else []) + [paths.window]
            start = time.monotonic()
            with open(ctx.path("out"), "w") as out, open(ctx.path("err"), "w") as err:
                program = subprocess.Popen([sys.executable, paths.drive] + window,
                                           stdin=subprocess.PIPE, stdout=out, stderr=err,
                                           env=env, text=True)
            ctx.programs.append(program)
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
            run.wall_s, run.cpu_s = time.monotonic() - start, 0.0  # CPU not measured here
            run.exit, run.lines, run.err = program.returncode, [], ""
        elif c.flow:
            failures += c.flow(c, ctx, run)
        else:
            finish_cli(ctx, start_cli(ctx, c, "cli"), "cli", run)
        # A simulator that ends by itself must do so soon after the tool; others are stopped.
        try:
            sim.wait(timeout=5 if c.ended and c.once else 0.2)
        except subprocess.TimeoutExpired:
            sim.terminate()
            sim.wait(timeout=10)
    finally:
        for p in ctx.programs + [sim]:
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        # Claims are named after the simulated USB device (bus: the simulator's process id);
        # nobody else can hold these now.
        if c.tree and sim is not None:
            for folder in ("/run/lock", env["XDG_RUNTIME_DIR"], "/tmp"):
                for lock in glob.glob(os.path.join(folder, "kestrel-usb-%d-*.lock" % sim.pid)):
                    os.remove(lock)
    run.sim_out = text("sim.out")
    run.sim_err = text("sim.err")
    s = run.summary = parse_summary(run.sim_out)
    if name == "window":
        saved = text(os.path.join("config", "Norvald", "Kestrel.reg"))
        failures += failed((('"COMPort"="%s"' % ctx.link) in saved and
                            '"BaudRate"="115200"' in saved,
                            "the window did not keep its settings in its own store:\n" + saved))
    lines = [line.format(dev=run.dev) for line in c.lines]
    if c.err is not None:
        err = c.err.format(dev=re.escape(run.dev))
    else:
        err = ("" if name == "window" else
               FIGURES % (c.accepted + c.resends) if c.cli_exit == 0 else TRANSCRIPT_KEPT)
    sim_exit = c.sim_exit if c.sim_exit is not None else (0 if c.equal else 1)
    return failures + failed(
        (run.lines == lines, "status lines:\n  got      %r\n  expected %r" % (run.lines, lines)),
        (run.exit == c.cli_exit, "exit %s, expected %d" % (run.exit, c.cli_exit)),
        (re.fullmatch(err, run.err, re.DOTALL),
         "standard error (not a terminal):\n  got      %r\n  expected %r" % (run.err, err)),
        ((s.get("accepted"), s.get("resends")) == (c.accepted, c.resends),
         "loader accepted %s records with %s resends, expected %d and %d"
         % (s.get("accepted"), s.get("resends"), c.accepted, c.resends)),
        (("equal the image" in s.get("result", "")) == c.equal,
         "image comparison: %r" % s.get("result")),
        (sim.returncode == sim_exit, "simulator exit %s, expected %d" % (sim.returncode, sim_exit)),
        (not c.ended or s.get("ended") == c.ended,
         "simulator ended with %r, expected %r" % (s.get("ended"), c.ended)),
    ) + (c.check(run) if c.check else [])


def main(cases=CASES):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(cases) + ["window"])
    for option in ("--sim", "--cli", "--image", "--shim"):
        parser.add_argument(option, required=True)
    parser.add_argument("--shipped-cli")
    parser.add_argument("--window")
    parser.add_argument("--drive", help="tests/ui/drive_window.py, for the case window")
    paths = parser.parse_args()
    # The window: a whole update with the small image, then closed with exit code 2.
    c = cases.get(paths.case) or case(lines=[], cli_exit=2)
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
        for line in run.err.splitlines():
            print("  ! " + line)
        print(run.sim_out.rstrip())
    if failures:
        print("FAILED %s:\n- %s\n- files kept in %s" % (paths.case, "\n- ".join(failures), tmp))
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed %s" % paths.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
