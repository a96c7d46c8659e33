#!/usr/bin/env python3
"""End-to-end cases of kestrel-cli on a production line: several kestrel-modem-sim modules at
once, JSON Lines, exit codes, interruption, a reader that goes away, transcripts.

Each module is a simulator behind a pty link in the case's folder, entered the blind way
(--no-firmware: no modem-line shim needed). Every line kestrel-cli prints with --json is
parsed with Python's json module. Exit 0 when the case passed, 1 when it failed (saying
why), 2 on wrong usage."""

import argparse
import glob
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

RECORDS = 1400


class Module:
    """A simulated module on its own pty link, with its own loader behaviour."""

    def __init__(self, case, name, options):
        self.link = os.path.join(case.tmp, name)
        self.out = open(os.path.join(case.tmp, name + ".sim"), "w+")
        self.proc = subprocess.Popen(
            [case.args.sim, "--image", case.args.image, "--no-firmware", "--link", self.link] +
            options, stdout=self.out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while "ready at" not in self.text() and time.monotonic() < deadline:
            time.sleep(0.01)

    def text(self):
        self.out.flush()
        with open(self.out.name) as f:
            return f.read()

    def accepted(self):
        found = re.findall(r"blocks accepted (\d+)", self.text())
        return int(found[-1]) if found else None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Case:
    def __init__(self, args, tmp):
        self.args, self.tmp, self.failures, self.modules = args, tmp, [], []
        self.env = dict(os.environ)
        for variable in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"):
            self.env[variable] = os.path.join(tmp, variable.lower())
            os.mkdir(self.env[variable], 0o700)

    def module(self, name, *options):
        m = Module(self, name, list(options))
        self.modules.append(m)
        return m

    def expect(self, ok, message):
        if not ok:
            self.failures.append(message)

    def cli(self, *arguments, **popen):
        return subprocess.Popen([self.args.cli] + list(arguments), env=self.env,
                                stdin=subprocess.DEVNULL, **popen)

    def run(self, *arguments, timeout=90):
        p = self.cli(*arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        out, err = p.communicate(timeout=timeout)
        return p.returncode, out, err


def parse_json_lines(case, text):
    events = []
    for line in text.splitlines():
        try:
            event = json.loads(line)
        except ValueError as e:
            case.expect(False, "not a JSON line (%s): %r" % (e, line))
            continue
        case.expect(event.get("v") == 1 and "event" in event,
                    "event without schema version or name: %r" % line)
        events.append(event)
    return events


def three_ports(case):
    """One module succeeds, one refuses block 5 with a fatal answer, one never answers
    block 3: each session's exit code, the summary table, the failures' transcripts."""
    ok = case.module("ok")
    fatal = case.module("fatal", "--fatal-at", "5")
    silent = case.module("silent", "--silent-at", "3")
    code, out, err = case.run("--no-firmware", "--port", ok.link, "--port", fatal.link,
                              "--port", silent.link)
    case.expect(code == 1, "exit %s, expected 1" % code)
    lines = out.splitlines()
    case.expect(ok.link + ": Download succeeded." in lines, "no success line for the good one")
    case.expect(fatal.link + ": ERROR: unexpected or fatal response (0x15) to block 5." in lines,
                "no fatal line: %r" % lines)
    case.expect(silent.link + ": ERROR: Timout waiting fo response after block no.3" in lines,
                "no timeout line: %r" % lines)
    rows = {l.split()[0]: l.split() for l in lines if l.startswith(case.tmp) and "  " in l
            and not ": " in l}
    for m, exit_code in ((ok, "0"), (fatal, "6"), (silent, "6")):
        case.expect(m.link in rows and rows[m.link][-3] == exit_code,
                    "summary row of %s: %r" % (m.link, rows.get(m.link)))
    for m in (ok, fatal, silent):
        m.stop()
    case.expect(ok.accepted() == RECORDS and fatal.accepted() == 5 and silent.accepted() == 3,
                "accepted %s/%s/%s" % (ok.accepted(), fatal.accepted(), silent.accepted()))
    # The failed sessions kept their transcripts and said where; the good one none.
    kept = re.findall(r"kestrel-cli: (\S+): transcript of the line in (\S+)", err)
    case.expect(sorted(p for p, _ in kept) == sorted([fatal.link, silent.link]),
                "transcripts told: %r\n%s" % (kept, err))
    for port, path in kept:
        text = open(path).read() if os.path.exists(path) else ""
        if port == fatal.link:
            case.expect(re.search(r"block 5\b.*answer 0x15", text) is not None,
                        "the transcript does not name block 5 and its answer 0x15:\n" + text[-800:])


def three_ports_json(case):
    """The same three modules with --json: nothing but JSON on standard output, every event
    with its port, begin and end events with the image and the outcome."""
    ok = case.module("ok")
    fatal = case.module("fatal", "--fatal-at", "5")
    silent = case.module("silent", "--silent-at", "3")
    code, out, err = case.run("--json", "--no-firmware", "--port", ok.link, "--port", fatal.link,
                              "--port", silent.link)
    case.expect(code == 1, "exit %s, expected 1" % code)
    events = parse_json_lines(case, out)
    ports = {ok.link, fatal.link, silent.link}
    case.expect(all(e.get("port") in ports for e in events), "an event without a known port")
    ends = {e["port"]: e for e in events if e["event"] == "end"}
    begins = {e["port"]: e for e in events if e["event"] == "begin"}
    case.expect(set(ends) == ports and set(begins) == ports, "begin/end events: %r" % events[:3])
    for b in begins.values():
        case.expect(b["image"]["records"] == RECORDS and len(b["image"]["sha256"]) == 64,
                    "begin event's image: %r" % b)
    expect_end = {ok.link: ("succeeded", 0, None, None),
                  fatal.link: ("transfer-failed", 6, 5, 0x15),
                  silent.link: ("transfer-failed", 6, 3, None)}
    for port, (result, exit_code, block, answer) in expect_end.items():
        e = ends.get(port, {})
        case.expect((e.get("result"), e.get("exit_code"), e.get("block"), e.get("answer")) ==
                    (result, exit_code, block, answer), "end event of %s: %r" % (port, e))
    for port in ports:
        mine = [e for e in events if e["port"] == port]
        phases = [e["phase"] for e in mine if e["event"] == "phase"]
        case.expect(phases[:3] == ["entry", "start-signal", "transfer"],
                    "phases of %s: %r" % (port, phases))
        case.expect(mine[0]["event"] == "begin" and mine[-1]["event"] == "end",
                    "%s: begin and end do not frame its events" % port)
    progress = [e for e in events if e["event"] == "progress" and e["port"] == ok.link]
    case.expect(progress and progress[-1]["blocks"] == RECORDS and len(progress) <= 200,
                "progress events of the good one: %d, last %r" % (len(progress), progress[-1:]))
    statuses = [e["text"] for e in events if e["event"] == "status" and e["port"] == ok.link]
    case.expect(statuses[-1:] == ["Download succeeded."], "status texts: %r" % statuses)


def interrupted(case):
    """SIGINT in the middle of a paced transfer: the block in flight settles, no further
    block, the hand-back runs, no success text, exit 130, the port free afterwards."""
    m = case.module("paced", "--pace")
    out_path = os.path.join(case.tmp, "cli.out")
    with open(out_path, "w") as out:
        p = case.cli("--no-firmware", "--port", m.link, stdout=out, stderr=subprocess.PIPE,
                     text=True)
    deadline = time.monotonic() + 30
    while (m.accepted() or 0) < 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    while "transfer began" not in m.text() and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(1.0)  # some blocks in
    p.send_signal(signal.SIGINT)
    try:
        _, err = p.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
        case.expect(False, "kestrel-cli did not end within 30 s of SIGINT")
        return
    lines = open(out_path).read().splitlines()
    case.expect(p.returncode == 130, "exit %s, expected 130" % p.returncode)
    case.expect(not any(l.startswith("Download succeeded") for l in lines),
                "a success text after SIGINT: %r" % lines)
    case.expect(lines and "interrupt" in lines[-1].lower(), "last status: %r" % lines[-1:])
    m.stop()
    accepted = m.accepted() or 0
    case.expect(0 < accepted < RECORDS, "accepted %s of %d" % (accepted, RECORDS))
    # The claim and the port are free again: a check on a fresh module there passes.
    again = case.module("paced2")
    code, out, _ = case.run("--check", "--port", again.link)
    case.expect(code == 0, "--check after the interrupted update: exit %s %r" % (code, out))


def reader_goes_away(case):
    """kestrel-cli | head -n 2: the reader leaves as the transfer starts; the update goes on
    to its end and its exit code."""
    m = case.module("ok")
    p = case.cli("--no-firmware", "--port", m.link, stdout=subprocess.PIPE,
                 stderr=subprocess.DEVNULL)
    for _ in range(2):
        p.stdout.readline()
    p.stdout.close()
    code = p.wait(timeout=60)
    case.expect(code == 0, "exit %s after the reader went away, expected 0" % code)
    m.stop()
    case.expect(m.accepted() == RECORDS, "accepted %s of %d" % (m.accepted(), RECORDS))
    case.expect("switched off" in m.text() or "restarted" in m.text() or
                "equal the image" in m.text(), "module not handed back:\n" + m.text())


CASES = {f.__name__: f for f in (three_ports, three_ports_json, interrupted, reader_goes_away)}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("case", choices=sorted(CASES))
    ap.add_argument("--sim", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--image", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="kestrel-line-") as tmp:
        case = Case(args, tmp)
        try:
            CASES[args.case](case)
        except Exception as e:  # a harness fault is a failure too, with its reason
            case.failures.append("%s: %s" % (type(e).__name__, e))
        finally:
            for m in case.modules:
                m.stop()
        for f in case.failures:
            print("FAILED: " + f)
        return 1 if case.failures else 0


if __name__ == "__main__":
    sys.exit(main())
