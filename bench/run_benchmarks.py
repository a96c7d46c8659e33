#!/usr/bin/env python3
"""Kestrel's benchmarks: an update against what this machine and the wire allow.

  run_benchmarks.py --build BUILD_DIR [--reps N] [--paced-reps N] [--only PART ...]

Parts (all by default, in this order):
  transfer  the shipped image through kestrel-cli against an instant simulated module
            (fallback road), next to the floor: two processes doing the same stop-and-wait
            exchange over a pty; and, to tell the tool's share from the simulator's, the
            floor's writer against the simulator and kestrel-cli against the floor's peer
  paced     the same with every byte taking its wire time (kestrel-modem-sim --pace), at
            921600 (the whole image) and 115200 (the benchmarks' part image), negotiated
            entry at the operator's rate, against the wire time of the bytes exchanged;
            the floor's writer over the same paced line for comparison
  wait      kestrel-cli waiting 20 s for a start signal that never comes
  reader    openImage + countRecords against one buffered read of the same file
  modules   1, 4 and 8 paced modules at once (--modules N ...), each a kestrel-modem-sim
            --pace on a pty link of its own, served by one kestrel-cli --json with a --port
            for each, with the benchmarks' 2000-record image: on the blind road
            (--no-firmware, which runs the transfer at 57600 whatever --rate says) and on the
            negotiated road at 115200; wall time, every port's transfer span (from its JSON
            events), the tool's CPU per session and peak memory, the simulators' CPU; goals:
            8 at once within 1.05x the wall time of one, no more CPU per session than one alone
  against   with --against PROGRAM (another packed kestrel-cli, e.g. one built from an earlier
            commit with the same image): the instant transfer through both, interleaved run by
            run, and this build's time against the other's (goal <= 1.03x)

Transfer times run from the status line "Firmware download in progress." (just before the
first record is written) to "Download succeeded, finishing update process." (just after the
last answer), timestamped by kestrel-bench-measure as they arrive; the prescribed waits of
the entry and the hand-back lie outside. CPU time comes from /proc/PID/schedstat at those
lines, peak memory from wait4()'s ru_maxrss (the simulators' CPU from their own wait4()).
Medians over the repetitions; ratios are taken between medians. Prints its figures and exits
0, or 1 when a run did not do what it should.
"""

import argparse
import json
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

START_LINE = "Firmware download in progress."
END_LINE = "Download succeeded, finishing update process."
WAIT_LINE = "Waiting for start signal."
WAIT_ERROR = "ERROR: timout waiting for start character."
GOAL_FLOOR = 1.25
GOAL_WIRE = {115200: 0.01, 921600: 0.03}
GOAL_CPU = 0.02
GOAL_RSS_KIB = 8 * 1024
GOAL_AGAINST = 1.03
GOAL_MODULES_WALL = 1.05
# The roads the several-modules part paces: simulator options, tool options, and the rate the
# records then travel at (the blind road opens the port at 57600 whatever --rate says).
MODULE_ROADS = {
    "blind": (["--no-firmware", "--pace"], ["--no-firmware", "--rate", "115200"], 57600),
    "negotiated": (["--rate", "115200", "--pace"], ["--rate", "115200"], 115200),
}


class Failed(Exception):
    pass


def log(text):
    print(text, flush=True)


def read_paths(build):
    path = os.path.join(build, "bench", "bench-paths.txt")
    if not os.path.exists(path):
        raise Failed("%s missing: build the target kestrel_bench_programs first" % path)
    paths = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key:
                paths[key] = value
    if not paths.get("packed"):
        raise Failed("the build does not pack programs (KESTREL_PACK is OFF): use a Release build")
    return paths


def image_figures(program):
    """Records and bytes (length bytes included) of the image behind a packed program."""
    with open(program, "rb") as f:
        data = f.read()
    marker = bytes(range(256))
    at = data.find(marker, 0, 100000)
    if at < 0:
        raise Failed("no image in %s" % program)
    pos, records = at + 256, 0
    while pos < len(data) and pos + 1 + data[pos] <= len(data):
        pos += 1 + data[pos]
        records += 1
    return records, pos - at - 256


# --- the simulator -----------------------------------------------------------------------

class Sim:
    def __init__(self, paths, options, image, once):
        self.tmp = tempfile.mkdtemp(prefix="kestrel-bench-")
        self.link = os.path.join(self.tmp, "ttyMODEM")
        cmd = [paths["sim"], "--link", self.link, "--image", image] + options
        if once:
            cmd.append("--once")
        self.once = once
        self.err = open(os.path.join(self.tmp, "sim.err"), "w")
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=self.err)
        line = b""
        deadline = time.monotonic() + 10
        fd = self.proc.stdout.fileno()
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                break
            chunk = os.read(fd, 1)
            if not chunk:
                break
            line += chunk
        if b"ready at" not in line:
            self.close()
            raise Failed("simulator did not get ready: %r" % line)

    def reap(self, timeout):
        """Waits up to timeout for the simulator to end; its CPU seconds, or None."""
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid:
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                return usage.ru_utime + usage.ru_stime
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.05)

    def finish(self):
        """Ends the simulator (by itself with --once, else by SIGTERM) and parses its summary."""
        cpu = self.reap(10 if self.once else 0.2)
        if cpu is None:
            self.proc.send_signal(signal.SIGTERM)
            cpu = self.reap(10)
        out = self.proc.stdout.read().decode(errors="replace")
        summary = {"text": out, "cpu": cpu}
        for line in out.splitlines():
            rest = line.replace("kestrel-modem-sim: ", "", 1)
            if rest.startswith("blocks accepted"):
                words = rest.replace(",", "").split()
                summary["accepted"] = int(words[2])
                summary["resends"] = int(words[4])
            if rest.startswith("result:"):
                summary["equal"] = "equal the image" in rest
            if rest.startswith("host rates:"):
                summary["rates"] = rest.split()[2:]
        self.close()
        return summary

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.err.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


# --- the programs under measurement --------------------------------------------------------

def run_measured(paths, cmd, env=None):
    out = subprocess.run([paths["measure"]] + cmd, stdout=subprocess.PIPE, check=True,
                         env=env).stdout
    run = {"lines": []}
    for line in out.decode(errors="replace").splitlines():
        if line.startswith("line "):
            _, t, cpu, text = line.split(" ", 3)
            run["lines"].append((float(t), float(cpu), text))
        elif line.startswith("run: "):
            for part in line[5:].split(", "):
                key, value = part.split(" ")
                run[key] = float(value) if key != "exit" else int(value)
    return run


def line_at(run, text):
    for t, cpu, line in run["lines"]:
        if line == text:
            return t, cpu
    raise Failed("kestrel-cli never said %r; it said %r" % (text, [l for _, _, l in run["lines"]]))


def cli_update(paths, program, sim_options, cli_options, expect_records):
    """One update through kestrel-cli; its transfer window and what it cost."""
    sim = Sim(paths, sim_options, program, once=True)
    try:
        run = run_measured(paths, [program, "--port", sim.link] + cli_options)
        summary = sim.finish()
    finally:
        sim.close()
    if run["exit"] != 0 or summary.get("accepted") != expect_records or not summary.get("equal"):
        raise Failed("update failed: exit %s, lines %r\n%s" % (
            run["exit"], [l for _, _, l in run["lines"]], summary["text"]))
    t0, cpu0 = line_at(run, START_LINE)
    t1, cpu1 = line_at(run, END_LINE)
    return {"transfer": t1 - t0, "transfer_cpu": cpu1 - cpu0, "wall": run["wall"],
            "cpu": run["user"] + run["sys"], "maxrss": run["maxrss"]}


def parse_peer(line, expect_records):
    # "peer: records N, round median U us"
    words = line.replace(",", "").split()
    if words[:2] != ["peer:", "records"] or int(words[2]) != expect_records:
        raise Failed("the floor's peer answered otherwise than expected: %r" % line)
    return float(words[words.index("median") + 1]) * 1e-6


def cli_against_floor_peer(paths, program, expect_records):
    """kestrel-cli on the fallback road against the floor's own peer (--serve): its transfer
    time, and the peer's median round."""
    tmp = tempfile.mkdtemp(prefix="kestrel-bench-")
    link = os.path.join(tmp, "ttyMODEM")
    peer = subprocess.Popen([paths["floor"], "--serve", link], stdout=subprocess.PIPE)
    try:
        if b"serving at" not in peer.stdout.readline():
            raise Failed("the floor's peer did not start")
        run = run_measured(paths, [program, "--port", link, "--no-firmware"])
        # The peer reports when the tool closes the port after the records.
        ready = select.select([peer.stdout], [], [], 5)[0]
        line = peer.stdout.readline().decode() if ready else ""
    finally:
        peer.kill()
        peer.wait()
        shutil.rmtree(tmp, ignore_errors=True)
    if run["exit"] != 0:
        raise Failed("update against the floor's peer failed: %r"
                     % [l for _, _, l in run["lines"]])
    t0, _ = line_at(run, START_LINE)
    t1, _ = line_at(run, END_LINE)
    return t1 - t0, parse_peer(line, expect_records)


def parse_floor(out):
    # "floor: records N, bytes B, transfer S s, round U us"
    for line in out.splitlines():
        if line.startswith("floor:"):
            words = line.replace(",", "").split()
            return float(words[words.index("transfer") + 1])
    raise Failed("no figures from the floor: %r" % out)


def floor_over_pty(paths, program, expect_records):
    """The floor's total transfer time and the peer's median round."""
    out = subprocess.run([paths["floor"], program], stdout=subprocess.PIPE,
                         check=True).stdout.decode()
    peer = [l for l in out.splitlines() if l.startswith("peer:")]
    return parse_floor(out), parse_peer(peer[0] if peer else "", expect_records)


def floor_against_sim(paths, program, sim_options, rate, expect_records):
    """The floor's writer against the simulator: its transfer time and the CPU it took."""
    sim = Sim(paths, sim_options, program, once=False)
    try:
        run = run_measured(paths, [paths["floor"], program, "--port", sim.link, "--rate",
                                   str(rate)])
        summary = sim.finish()
    finally:
        sim.close()
    if run["exit"] != 0 or summary.get("accepted") != expect_records:
        raise Failed("the floor's writer did not get the image across:\n" + summary["text"])
    return parse_floor("\n".join(l for _, _, l in run["lines"])), run["user"] + run["sys"]


def median(values):
    return statistics.median(values)


def spread(values):
    return "median %.3f s (%.3f..%.3f)" % (median(values), min(values), max(values))


def verdict(ok):
    return "met" if ok else "MISSED"


# --- the parts -----------------------------------------------------------------------------

def part_transfer(paths, reps, results):
    records, size = image_figures(paths["cli"])
    log("== transfer: %d records, %d bytes, instant module, fallback road, %d repetitions"
        % (records, size, reps))
    floor, cli, writer, peer, floor_round, peer_round = [], [], [], [], [], []
    for i in range(reps):
        total, round_s = floor_over_pty(paths, paths["cli"], records)
        floor.append(total)
        floor_round.append(round_s)
        run = cli_update(paths, paths["cli"], ["--no-firmware"], ["--no-firmware"], records)
        cli.append(run["transfer"])
        results["rss"].append(("instant update", run["maxrss"]))
        writer.append(floor_against_sim(paths, paths["cli"], ["--no-firmware"], 57600,
                                        records)[0])
        total, round_s = cli_against_floor_peer(paths, paths["cli"], records)
        peer.append(total)
        peer_round.append(round_s)
        log("  %d: floor %.3f s (round %.1f us), kestrel-cli + simulator %.3f s, floor writer +"
            " simulator %.3f s, kestrel-cli + floor peer %.3f s (round %.1f us)" % (
                i + 1, floor[-1], floor_round[-1] * 1e6, cli[-1], writer[-1], peer[-1],
                peer_round[-1] * 1e6))
    f, c, w, p = median(floor), median(cli), median(writer), median(peer)
    fr, pr = median(floor_round), median(peer_round)
    results["floor_s"] = f

    def row(what, values):
        return "  %-38s %s  %5.1f us/record" % (what, spread(values),
                                                 median(values) * 1e6 / records)

    def round_row(what, values):
        return "  %-38s median %.1f us (%.1f..%.1f)" % (
            what, median(values) * 1e6, min(values) * 1e6, max(values) * 1e6)

    results["summary"] += [
        "Transfer of the shipped image, instant module (%d records, %d repetitions)" % (records,
                                                                                       reps),
        row("floor: writer and peer over a pty", floor),
        row("kestrel-cli + kestrel-modem-sim", cli),
        row("floor writer + kestrel-modem-sim", writer),
        row("kestrel-cli + floor peer", peer),
        "  kestrel-cli + simulator / floor        %.2fx  (goal <= %.2fx: %s)" % (
            c / f, GOAL_FLOOR, verdict(c / f <= GOAL_FLOOR)),
        "  kestrel-cli + floor peer / floor       %.2fx  (the tool against the floor's own peer)"
        % (p / f),
        "  kestrel-cli / floor writer, both + sim %.2fx" % (c / w),
        "  simulator as the peer / floor          %.2fx" % (w / f),
        "  Rounds as the floor's peer sees them (median round of each run; median of the runs):",
        round_row("floor writer", floor_round),
        round_row("kestrel-cli", peer_round),
        "  kestrel-cli / floor writer, per round  %.2fx  (goal <= %.2fx: %s)" % (
            pr / fr, GOAL_FLOOR, verdict(pr / fr <= GOAL_FLOOR)),
    ]


def part_paced(paths, reps, results):
    for rate, program, what in ((921600, paths["cli"], "the shipped image"),
                                (115200, paths["part_cli"], "the part image")):
        records, size = image_figures(program)
        wire = (size + records) * 10.0 / rate  # every record and its one-byte answer
        log("== paced at %d: %s, %d records, %d bytes + %d answers, wire time %.3f s"
            % (rate, what, records, size, records, wire))
        sim_options = ["--rate", str(rate), "--pace"]
        cli, writer, cpu, writer_cpu = [], [], [], []
        for i in range(reps):
            run = cli_update(paths, program, sim_options, ["--rate", str(rate)], records)
            cli.append(run["transfer"])
            cpu.append((run["transfer_cpu"], run["transfer"], run["cpu"], run["wall"]))
            results["rss"].append(("paced update at %d" % rate, run["maxrss"]))
            seconds, writer_cpu_s = floor_against_sim(paths, program, sim_options, rate, records)
            writer.append(seconds)
            writer_cpu.append(writer_cpu_s / seconds)
            log("  %d: kestrel-cli %.3f s (+%.2f%%), floor writer %.3f s (+%.2f%%)" % (
                i + 1, cli[-1], (cli[-1] / wire - 1) * 100, writer[-1],
                (writer[-1] / wire - 1) * 100))
        c, w = median(cli), median(writer)
        goal = GOAL_WIRE[rate]
        results["summary"] += [
            "Paced at %d: %s (%d records), wire time %.3f s, %d repetitions" % (
                rate, what, records, wire, reps),
            "  %-38s %s  %+.2f%% over the wire  (goal %.0f%%: %s)" % (
                "kestrel-cli + paced simulator", spread(cli), (c / wire - 1) * 100, goal * 100,
                verdict(c / wire - 1 <= goal)),
            "  %-38s %s  %+.2f%% over the wire" % (
                "floor writer + paced simulator", spread(writer), (w / wire - 1) * 100),
            "  %-38s %+.2f%% of the wire time (%+.1f us/record)" % (
                "kestrel-cli's own share", (c - w) / wire * 100, (c - w) * 1e6 / records),
        ]
        tc = median([t[0] / t[1] for t in cpu])
        wc = median([t[2] / t[3] for t in cpu])
        results["cpu"] += [
            "  paced update at %d: transfer %.2f%% of its wall time, whole run %.2f%%"
            "  (goal %.0f%%: %s)" % (rate, tc * 100, wc * 100, GOAL_CPU * 100,
                                   verdict(max(tc, wc) < GOAL_CPU)),
            "    %.1f us a record; the floor writer over the same line %.2f%%, %.1f us a record"
            % (median([t[0] / records for t in cpu]) * 1e6, median(writer_cpu) * 100,
               median([c * w / records for c, w in zip(writer_cpu, writer)]) * 1e6),
        ]


def part_wait(paths, results):
    log("== waiting for a start signal that never comes (about 27 s)")
    sim = Sim(paths, ["--no-firmware", "--start-delay-ms", "3600000"], paths["cli"], once=False)
    try:
        run = run_measured(paths, [paths["cli"], "--port", sim.link, "--no-firmware"])
        sim.finish()
    finally:
        sim.close()
    t0, cpu0 = line_at(run, WAIT_LINE)
    t1, cpu1 = line_at(run, WAIT_ERROR)
    share = (cpu1 - cpu0) / (t1 - t0)
    whole = (run["user"] + run["sys"]) / run["wall"]
    results["rss"].append(("start-signal wait", run["maxrss"]))
    results["cpu"].append(
        "  start-signal wait: %.3f s CPU in %.3f s = %.3f%%, whole run %.3f%%  (goal %.0f%%: %s)"
        % (cpu1 - cpu0, t1 - t0, share * 100, whole * 100, GOAL_CPU * 100,
           verdict(max(share, whole) < GOAL_CPU)))


def part_reader(paths, results):
    log("== image reader")
    out = subprocess.run([paths["reader"], paths["cli"], "300"], stdout=subprocess.PIPE,
                         check=True).stdout.decode()
    results["summary"].append(
        "Image reader over the shipped kestrel-cli (warm cache, 300 repetitions)")
    for line in out.splitlines():
        results["summary"].append("  " + line.replace("image-reader: ", ""))
        if "openImage+countRecords median" in line:
            reader_s = float(line.split("median ")[1].split(" us")[0]) * 1e-6
            if "floor_s" in results:
                results["summary"].append(
                    "  openImage+countRecords = %.1f%% of the floor's transfer of the image"
                    % (reader_s / results["floor_s"] * 100))


def json_events(run):
    """The JSON events kestrel-cli wrote, by port, in order."""
    ports = {}
    for _, _, text in run["lines"]:
        if text.startswith("{"):
            event = json.loads(text)
            ports.setdefault(event.get("port"), []).append(event)
    return ports


def transfer_span(events):
    """Seconds from a port's transfer phase to its "Download succeeded, finishing ..." line."""
    begun = [e["ms"] for e in events if e["event"] == "phase" and e["phase"] == "transfer"]
    done = [e["ms"] for e in events if e["event"] == "status" and e["text"] == END_LINE]
    if not begun or not done:
        raise Failed("no transfer span in %r" % [e.get("phase", e.get("text")) for e in events])
    return (done[0] - begun[0]) / 1000.0


def modules_run(paths, road, count, records, env):
    """count paced modules at once through one kestrel-cli; what it took."""
    sim_options, cli_options, rate = MODULE_ROADS[road]
    program = paths["modules_cli"]
    sims = []
    try:
        for _ in range(count):
            sims.append(Sim(paths, sim_options, program, once=True))
        ports = [s.link for s in sims]
        load = os.getloadavg()[0]
        cmd = [program, "--json"] + cli_options
        for port in ports:
            cmd += ["--port", port]
        run = run_measured(paths, cmd, env)
        summaries = [s.finish() for s in sims]
    finally:
        for s in sims:
            s.close()
    events = json_events(run)
    ends = [e for port in ports for e in events.get(port, []) if e["event"] == "end"]
    bad = [(p, s) for p, s in zip(ports, summaries)
           if s.get("accepted") != records or not s.get("equal") or s.get("rates") != [str(rate)]]
    if run["exit"] != 0 or len(ends) != count or any(e["result"] != "succeeded" for e in ends) \
            or bad:
        raise Failed("%d modules on the %s road: exit %s, ends %r\n%s" % (
            count, road, run["exit"], ends, "\n".join(s["text"] for _, s in bad)))
    spans = [transfer_span(events[port]) for port in ports]
    return {"wall": run["wall"], "cpu": run["user"] + run["sys"], "maxrss": run["maxrss"],
            "spans": spans, "sim_cpu": [s["cpu"] for s in summaries], "load": load}


def part_modules(paths, counts, roads, reps, results):
    if not paths.get("modules_cli"):
        raise Failed("no several-modules program: build the target kestrel_bench_programs")
    records, size = image_figures(paths["modules_cli"])
    tmp = tempfile.mkdtemp(prefix="kestrel-bench-")
    # A failed session keeps its transcript in the state folder: keep the home clean.
    env = dict(os.environ, XDG_STATE_HOME=tmp, XDG_CONFIG_HOME=tmp, XDG_CACHE_HOME=tmp)
    try:
        for road in roads:
            rate = MODULE_ROADS[road][2]
            wire = (size + records) * 10.0 / rate
            log("== %s road, paced: %s modules at once, %d records, %d bytes each, records at %d"
                " (wire time %.3f s), %d repetitions" % (
                    road, "/".join(map(str, counts)), records, size, rate, wire, reps))
            runs = {n: [] for n in counts}
            for i in range(reps):
                # Interleaved, so that a change in the machine's load touches every count.
                for n in counts:
                    r = modules_run(paths, road, n, records, env)
                    runs[n].append(r)
                    results["rss"].append(("%d at once, %s road" % (n, road),
                                           r["maxrss"]))
                    log("  %d: %d at once: wall %.3f s, transfer %.3f..%.3f s, CPU %.3f s"
                        " (%.3f s a session), simulators %.3f s, load %.2f" % (
                            i + 1, n, r["wall"], min(r["spans"]), max(r["spans"]), r["cpu"],
                            r["cpu"] / n, sum(r["sim_cpu"]), r["load"]))
            modules_summary(road, rate, wire, records, counts, runs, results)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def modules_summary(road, rate, wire, records, counts, runs, results):
    results["summary"] += [
        "%s road, paced, records at %d: modules at once (%d records each, wire time %.3f s, "
        "%d repetitions)" % (road.capitalize(), rate, records, wire, len(runs[counts[0]])),
        "  %-3s %-27s %-23s %-10s %-9s %-9s %-10s %s" % (
            "N", "wall", "slowest port's transfer", "CPU/sess.", "tool CPU", "sims CPU",
            "cores", "peak RSS")]
    figures = {}
    for n in counts:
        rs = runs[n]
        wall = median([r["wall"] for r in rs])
        span = median([max(r["spans"]) for r in rs])
        per_session = median([r["cpu"] / n for r in rs])
        tool_share = median([r["cpu"] / r["wall"] for r in rs])
        sims_share = median([sum(r["sim_cpu"]) / r["wall"] for r in rs])
        busy = median([(r["cpu"] + sum(r["sim_cpu"])) / r["wall"] for r in rs])
        figures[n] = (wall, span, per_session)
        results["summary"].append(
            "  %-3d %-27s %-23s %-10s %-9s %-9s %-10s %d KiB" % (
                n, "%.3f s (%.3f..%.3f)" % (wall, min(r["wall"] for r in rs),
                                          max(r["wall"] for r in rs)),
                "%.3f s (%+.2f%% wire)" % (span, (span / wire - 1) * 100),
                "%.4f s" % per_session, "%.2f%%" % (tool_share * 100),
                "%.1f%%" % (sims_share * 100), "%.2f of 2" % busy,
                max(r["maxrss"] for r in rs)))
    one, most = counts[0], counts[-1]
    if one == 1 and most > 1:
        w1, s1, c1 = figures[one]
        wn, sn, cn = figures[most]
        results["summary"] += [
            "  wall time, %d at once / one          %.3fx  (goal <= %.2fx: %s)" % (
                most, wn / w1, GOAL_MODULES_WALL, verdict(wn / w1 <= GOAL_MODULES_WALL)),
            "  slowest transfer, %d at once / one   %.3fx" % (most, sn / s1),
            "  CPU a session, %d at once / one      %.3fx  (goal <= 1.00x: %s)" % (
                most, cn / c1, verdict(cn <= c1)),
        ]
    results["summary"].append(
        "  (tool CPU and sims CPU: shares of one core over the wall time; cores: both together"
        " out of the machine's 2; load: 1-minute load average at each start)")
    results["summary"].append("  load at the starts: " + ", ".join(
        "%d: %s" % (n, "/".join("%.2f" % r["load"] for r in runs[n])) for n in counts))


def part_against(paths, other, reps, results):
    records, size = image_figures(paths["cli"])
    if image_figures(other) != (records, size):
        raise Failed("%s carries another image than %s" % (other, paths["cli"]))
    log("== against %s: %d records, instant module, fallback road, %d repetitions each"
        % (other, records, reps))
    ours, theirs = [], []
    for i in range(reps):
        # Interleaved, so that a change in the machine's load touches both alike.
        theirs.append(cli_update(paths, other, ["--no-firmware"], ["--no-firmware"],
                                 records)["transfer"])
        ours.append(cli_update(paths, paths["cli"], ["--no-firmware"], ["--no-firmware"],
                               records)["transfer"])
        log("  %d: other %.3f s, this build %.3f s" % (i + 1, theirs[-1], ours[-1]))
    o, t = median(ours), median(theirs)
    results["summary"] += [
        "Transfer of the shipped image, this build against %s (%d repetitions)" % (other, reps),
        "  %-38s %s" % ("other program", spread(theirs)),
        "  %-38s %s" % ("this build", spread(ours)),
        "  this build / other                     %.3fx  (goal <= %.2fx: %s)" % (
            o / t, GOAL_AGAINST, verdict(o / t <= GOAL_AGAINST)),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--reps", type=int, default=5, help="repetitions of the instant transfer")
    parser.add_argument("--paced-reps", type=int, default=3, help="repetitions of each paced run")
    parser.add_argument("--only", nargs="+",
                        choices=["transfer", "paced", "wait", "reader", "modules", "against"])
    parser.add_argument("--modules", type=int, nargs="+", default=[1, 4, 8], metavar="N",
                        help="how many modules at once, in turn (default 1 4 8)")
    parser.add_argument("--modules-road", nargs="+", choices=sorted(MODULE_ROADS),
                        default=["blind", "negotiated"], help="the roads to pace them on")
    parser.add_argument("--modules-reps", type=int, default=3,
                        help="repetitions of each count of modules")
    parser.add_argument("--against", metavar="PROGRAM",
                        help="another packed kestrel-cli to compare the transfer with")
    args = parser.parse_args()
    parts = args.only or ["transfer", "paced", "wait", "reader", "modules"] + (
        ["against"] if args.against else [])
    if "against" in parts and not args.against:
        parser.error("--only against needs --against PROGRAM")
    results = {"summary": [], "cpu": [], "rss": []}
    load_before = os.getloadavg()
    started = time.time()
    try:
        paths = read_paths(args.build)
        if "transfer" in parts:
            part_transfer(paths, args.reps, results)
        if "paced" in parts:
            part_paced(paths, args.paced_reps, results)
        if "wait" in parts:
            part_wait(paths, results)
        if "reader" in parts:
            part_reader(paths, results)
        if "modules" in parts:
            part_modules(paths, sorted(set(args.modules)), args.modules_road, args.modules_reps,
                         results)
        if "against" in parts:
            part_against(paths, args.against, args.reps, results)
    except (Failed, subprocess.CalledProcessError) as e:
        log("FAILED: %s" % e)
        return 1
    load_after = os.getloadavg()

    log("")
    log("== results (%s, %.0f s; load average %.2f before, %.2f after)" % (
        time.strftime("%Y-%m-%d %H:%M"), time.time() - started, load_before[0], load_after[0]))
    for line in results["summary"]:
        log(line)
    if results["cpu"]:
        log("CPU time of kestrel-cli")
        for line in results["cpu"]:
            log(line)
    if results["rss"]:
        peak = max(k for _, k in results["rss"])
        log("Peak resident memory of kestrel-cli (ru_maxrss): %d KiB  (goal < %d KiB: %s)" % (
            peak, GOAL_RSS_KIB, verdict(peak < GOAL_RSS_KIB)))
        for what in sorted(set(w for w, _ in results["rss"])):
            log("  %s: %d KiB" % (what, max(k for w, k in results["rss"] if w == what)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
