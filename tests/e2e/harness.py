"""What the end-to-end drivers share: a case's folder and environment, kestrel-modem-sim
processes and their summaries, kestrel-cli runs, JSON Lines, and the failures a case collects.

A driver is a table {name: function(case)}; main(table) runs the one named on the command line
and exits 0 when it passed, 1 with the reasons when it failed, 2 on wrong usage. Every program runs with its XDG folders in the case's temporary folder: no case
writes into the real home."""

import argparse
import contextlib
import glob
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

RECORDS = 1400  # the small image's


def wait_until(predicate, timeout_s):
    # predicate()'s first true value within timeout_s, else its last value.
    deadline = time.monotonic() + timeout_s
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(0.01)


def ended(proc, timeout_s):
    # Whether proc ends within timeout_s.
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=timeout_s)
    return proc.poll() is not None


def open_files(pid):
    # What the process has open now (its descriptors' targets).
    found = []
    with contextlib.suppress(OSError):
        for fd in os.listdir("/proc/%d/fd" % pid):
            with contextlib.suppress(OSError):
                found.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
    return found


def parse_summaries(text):
    # The simulator's summaries, one a dict per update, in order.
    summaries = []
    for line in text.splitlines():
        rest = line[len("kestrel-modem-sim: "):] if line.startswith("kestrel-modem-sim: ") else ""
        m = re.match(r"update ended \((.*)\)$", rest)
        summaries += [{"ended": m.group(1)}] if m else []
        m = re.match(r"blocks accepted (\d+), resends (\d+)", rest)
        key, _, value = rest.partition(":")
        if summaries and m:
            summaries[-1].update(accepted=int(m.group(1)), resends=int(m.group(2)))
        elif summaries and key in ("commands", "host rates", "module", "result"):
            summaries[-1][key] = value.strip()
    return summaries


class Sim:
    """A kestrel-modem-sim of the case, its output in LABEL.out and LABEL.err; ready when built."""

    def __init__(self, case, label, options, image=None):
        self.label, self.base = label, case.path(label)
        with open(self.base + ".out", "w") as out, open(self.base + ".err", "w") as err:
            self.proc = subprocess.Popen(
                [case.args.sim, "--image", image or case.args.image] + list(options),
                stdout=out, stderr=err)
        case.sims.append(self)
        ready = wait_until(lambda: re.search(r"ready at (\S+) \((.*)\)\n", self.out()), 10)
        if not ready:
            raise RuntimeError("%s did not get ready: %r" % (label, self.text()))
        self.port, self.slave = ready.groups()

    def out(self):
        return read(self.base + ".out")

    def text(self):
        return self.out() + read(self.base + ".err")

    def summaries(self):
        return parse_summaries(self.out())

    def accepted(self):
        return (self.summaries() or [{}])[-1].get("accepted")

    def stop(self, grace_s=0):
        # Waits grace_s for the simulator to end by itself, then asks it to, then kills it.
        for end, wait_s in ((None, grace_s), (self.proc.terminate, 10), (self.proc.kill, None)):
            if end:
                end()
            with contextlib.suppress(subprocess.TimeoutExpired):
                return self.proc.wait(timeout=wait_s)


def read(path):
    with open(path, newline="") as f:
        return f.read()


class Case:
    def __init__(self, args, tmp):
        self.args, self.tmp, self.failures, self.sims, self.programs = args, tmp, [], [], []
        self.tree = self.path("tree")
        self.env = dict(os.environ)
        self.env.pop("LD_PRELOAD", None)
        for variable, folder in (("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                                 ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "run")):
            self.env[variable] = self.path(folder)
            os.mkdir(self.env[variable], 0o700)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def text(self, *names):
        return read(self.path(*names))

    def use_tree(self):
        # kestrel-cli reads the simulated device tree instead of /sys and /dev.
        self.env.update(KESTREL_SYSFS_ROOT=os.path.join(self.tree, "sys"),
                        KESTREL_DEV_ROOT=os.path.join(self.tree, "dev"))

    def sim(self, label, *options, image=None):
        return Sim(self, label, options, image)

    def expect(self, ok, message):
        if not ok:
            self.failures.append(message)
        return ok

    def wait(self, predicate, timeout_s, what):
        # predicate()'s first true value; a wait that runs out is a failure saying what for.
        value = wait_until(predicate, timeout_s)
        self.expect(value, "waited %d s in vain for %s" % (timeout_s, what))
        return value

    def cli(self, *arguments, program=None, **popen):
        popen.setdefault("stdin", subprocess.DEVNULL)
        p = subprocess.Popen([program or self.args.cli] + list(arguments), env=self.env, **popen)
        self.programs.append(p)
        return p

    def run(self, *arguments, timeout=90):
        p = self.cli(*arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        out, err = p.communicate(timeout=timeout)
        return p.returncode, out, err

    def json_lines(self, text):
        # Every line one JSON object with the schema version and an event name.
        events = []
        for line in text.splitlines():
            try:
                events.append(json.loads(line))
            except ValueError as e:
                self.expect(False, "not a JSON line (%s): %r" % (e, line))
                continue
            self.expect(events[-1].get("v") == 1 and "event" in events[-1],
                        "event without schema version or name: %r" % line)
        return events

    def end(self):
        for p in self.programs + [s.proc for s in self.sims]:
            if p.poll() is None:
                p.kill()
                p.wait()
        # Claims on a simulated USB device are named after it (bus: the simulator's process
        # id); nobody else can hold these now.
        for sim in self.sims:
            for folder in ("/run/lock", self.env["XDG_RUNTIME_DIR"], "/tmp"):
                for lock in glob.glob(os.path.join(folder, "kestrel-usb-%d-*.lock" % sim.proc.pid)):
                    os.remove(lock)


def main(cases):
    ap = argparse.ArgumentParser()
    ap.add_argument("case", choices=sorted(cases))
    for option in ("--sim", "--cli", "--image", "--shim", "--shipped-cli", "--window", "--drive"):
        ap.add_argument(option)
    args = ap.parse_args()
    case = Case(args, tempfile.mkdtemp(prefix="kestrel-e2e-%s-" % args.case))
    started = time.monotonic()
    try:
        cases[args.case](case)
    except Exception as e:  # a harness fault is a failure too, with its reason
        case.failures.append("%s: %s" % (type(e).__name__, e))
    finally:
        case.end()
    for sim in case.sims:
        print("--- %s:\n%s" % (sim.label, sim.text().rstrip()))
    for f in case.failures:
        print("FAILED: " + f)
    print("%s: %s in %.1f s" % (args.case, "failed" if case.failures else "passed",
                                 time.monotonic() - started))
    if case.failures:
        print("files kept in " + case.tmp)
        return 1
    shutil.rmtree(case.tmp, ignore_errors=True)
    return 0

