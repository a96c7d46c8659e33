#!/usr/bin/env python3
"""kestrel-cli on a production line: several kestrel-modem-sim modules at once."""

# Ports given on the command line: modules behind pty links in the case's folder, entered the
# blind way (--no-firmware: no modem-line shim needed); exit codes, the summary table, JSON
# Lines, interruption, a reader that goes away, transcripts. Station mode and --list: USB
# modules (--usb: the port leaves after the download command and comes back) at TREE/dev/NAME
# of one simulated device tree, each on a USB bus of its own. Every line kestrel-cli prints
# with --json is parsed with Python's json module.

import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import RECORDS, ended, main, open_files  # noqa: E402

QUIET_S = 1  # the station's --quiet-time


def module(t, name, *options):
    return t.sim(name, "--no-firmware", "--link", t.path(name), *options)


def three_ports(t, as_json):
    """One module succeeds, one refuses block 5 with a fatal answer, one never answers block 3:
    each session's exit code, the summary table or the JSON events, the failures' transcripts."""
    ok, fatal, silent = (module(t, "ok"), module(t, "fatal", "--fatal-at", "5"),
                         module(t, "silent", "--silent-at", "3"))
    code, out, err = t.run(*(["--json"] * as_json), "--no-firmware", "--port", ok.port,
                           "--port", fatal.port, "--port", silent.port)
    for m in (ok, fatal, silent):
        m.stop()
    accepted = [m.accepted() for m in (ok, fatal, silent)]
    t.expect((code, accepted) == (1, [RECORDS, 5, 3]), "exit %s, accepted %s" % (code, accepted))
    # (status text, exit code, block, answer) of each.
    wanted = {ok.port: ("Download succeeded.", 0, None, None),
              fatal.port: ("ERROR: unexpected or fatal response (0x15) to block 5.", 6, 5, 0x15),
              silent.port: ("ERROR: Timout waiting fo response after block no.3", 6, 3, None)}
    if as_json:
        return check_events(t, t.json_lines(out), wanted)
    lines = out.splitlines()
    rows = {l.split()[0]: l.split() for l in lines if l.startswith(t.tmp) and "  " in l
            and ": " not in l}
    for port, (text, exit_code, _, _) in wanted.items():
        t.expect(port + ": " + text in lines, "no line %r: %r" % (port + ": " + text, lines))
        t.expect(rows.get(port, [""] * 3)[-3] == str(exit_code),
                 "summary row of %s: %r" % (port, rows.get(port)))
    # The failed sessions kept their transcripts and said where; the good one none.
    kept = re.findall(r"kestrel-cli: (\S+): transcript of the line in (\S+)", err)
    t.expect(sorted(p for p, _ in kept) == sorted([fatal.port, silent.port]),
             "transcripts told:\n" + err)
    path = dict(kept).get(fatal.port, "")
    text = open(path).read() if os.path.exists(path) else ""
    t.expect(re.search(r"block 5\b.*answer 0x15", text),
             "the transcript does not name block 5 and its answer 0x15:\n" + text[-800:])


def check_events(t, events, wanted):
    # Every event with its port, framed by begin (with the image) and end (with the outcome).
    t.expect(all(e.get("port") in wanted for e in events), "an event without a known port")
    for port, (text, exit_code, block, answer) in wanted.items():
        mine = [e for e in events if e.get("port") == port]
        kinds = [e["event"] for e in mine]
        t.expect(kinds[:1] == ["begin"] and kinds[-1:] == ["end"] and kinds.count("end") == 1,
                 "%s: begin and end do not frame its events: %r" % (port, kinds))
        image, end = (mine or [{}])[0].get("image", {}), (mine or [{}])[-1]
        t.expect(image.get("records") == RECORDS and len(image.get("sha256", "")) == 64,
                 "begin event's image: %r" % mine[0])
        t.expect((end.get("result"), end.get("exit_code"), end.get("block"), end.get("answer")) ==
                 ("transfer-failed" if exit_code else "succeeded", exit_code, block, answer),
                 "end event of %s: %r" % (port, end))
        phases = [e["phase"] for e in mine if e["event"] == "phase"]
        t.expect(phases[:3] == ["entry", "start-signal", "transfer"],
                 "phases of %s: %r" % (port, phases))
        if exit_code == 0:
            progress = [e for e in mine if e["event"] == "progress"]
            t.expect(progress and progress[-1]["blocks"] == RECORDS and len(progress) <= 200,
                     "progress events: %d, last %r" % (len(progress), progress[-1:]))
            statuses = [e["text"] for e in mine if e["event"] == "status"]
            t.expect(statuses[-1:] == [text], "status texts: %r" % statuses)


def interrupted(t):
    """SIGINT in the middle of a paced transfer: the block in flight settles, no further
    block, the hand-back runs, no success text, exit 130, the port free afterwards."""
    m = module(t, "paced", "--pace")
    p = t.cli("--no-firmware", "--port", m.port, stdout=subprocess.PIPE, text=True)
    t.wait(lambda: "transfer began" in m.text(), 30, "the transfer")
    time.sleep(1.0)  # some blocks in
    p.send_signal(signal.SIGINT)
    lines = p.communicate(timeout=30)[0].splitlines()
    m.stop()
    t.expect(p.returncode == 130 and not any(l.startswith("Download succeeded") for l in lines)
             and lines and "interrupt" in lines[-1].lower() and 0 < (m.accepted() or 0) < RECORDS,
             "exit %s, status lines %r, accepted %s" % (p.returncode, lines, m.accepted()))
    # The claim and the port are free again: a check on a fresh module there passes.
    code, out, _ = t.run("--check", "--port", module(t, "paced2").port)
    t.expect(code == 0, "--check after the interrupted update: exit %s %r" % (code, out))


def reader_goes_away(t):
    """kestrel-cli | head -n 2: the reader leaves as the transfer starts; the update goes on
    to its end and its exit code."""
    m = module(t, "ok")
    p = t.cli("--no-firmware", "--port", m.port, stdout=subprocess.PIPE,
              stderr=subprocess.DEVNULL)
    for _ in range(2):
        p.stdout.readline()
    p.stdout.close()
    t.expect(p.wait(timeout=60) == 0, "exit %s after the reader went away" % p.returncode)
    m.stop()
    t.expect(m.accepted() == RECORDS and re.search("switched off|restarted|equal the image",
                                                   m.text()), "not the whole update:\n" + m.text())


def plug(t, label, name, *options):
    # A module at TREE/dev/NAME; a USB module is away for 1 s after the download command.
    t.use_tree()
    return t.sim(label, "--device-tree", t.tree, "--tty-name", name, *options)


def usb_module(t, label, name, *options):
    return plug(t, label, name, "--usb", "--usb-gone-ms", "1000", *options)


def run_station(t, as_json):
    """Modules plugged in one after another: A re-enumerates during its update under another
    name, B restarts after its update and shows up again, C2 comes into A's slot (no serial
    number) after the quiet time, C1 into B's slot with a serial number of its own. Each is
    updated exactly once, and SIGINT ends the station with exit 0. Returns the station's
    standard output and error and the ports it should have updated."""
    dev = os.path.join(t.tree, "dev")
    t.use_tree()
    with open(t.path("station.out"), "w") as out, open(t.path("station.err"), "w") as err:
        station = t.cli("--station", os.path.join(dev, "ttyACM*"), "--usb", "--quiet-time",
                        str(QUIET_S), *(["--json"] if as_json else []), stdout=out, stderr=err)
    try:
        # The watcher (its inotify and wake-up descriptors) exists, and with it the list of
        # ports present at the start, which a station leaves alone.
        t.wait(lambda: {"anon_inode:inotify", "anon_inode:[eventfd]"} <=
               set(open_files(station.pid)), 10, "the station to watch")
        a = usb_module(t, "A", "ttyACM0", "--usb-return-as", "ttyACM4")
        t.wait(lambda: "transfer began" in a.text(), 20, "A's transfer")
        b = usb_module(t, "B", "ttyACM1", "--usb-serial", "KS-B-0002",
                       "--restart-after-update-ms", "300")
        t.wait(lambda: "update ended" in a.text(), 20, "A's update")
        # A unplugged; its slot (names and USB place, no serial number) takes a new module
        # once it has been empty for the quiet time.
        a.stop()
        time.sleep(QUIET_S + 1.0)
        c2 = usb_module(t, "C2", "ttyACM0")
        t.wait(lambda: b.text().count("port back at") == 2, 20, "B's update and restart")
        # B stays plugged a while after its restart: a station that took it for a new module
        # would open it now. Then a new module with a serial number of its own in its slot.
        time.sleep(1.0)
        b.stop()
        c1 = usb_module(t, "C1", "ttyACM1", "--usb-serial", "KS-C-0003")
        for m in (c2, c1):
            t.wait(lambda: "update ended" in m.text(), 20, m.label + "'s update")
        unit = '"event":"unit"' if as_json else "\nUNIT "
        t.wait(lambda: ("\n" + t.text("station.out")).count(unit) == 4, 10, "four unit records")
    finally:
        if station.poll() is None:
            station.send_signal(signal.SIGINT)
        t.expect(ended(station, 20), "the station did not end within 20 s of SIGINT")
        for m in t.sims:
            m.stop()
    for m in t.sims:
        # One update each, the whole image, and never opened again after it.
        text = m.text()
        t.expect(text.count("update ended") == 1 and "update ended (stopped)" not in text and
                 [s.get("accepted") for s in m.summaries()] == [RECORDS] and
                 "result: the accepted records equal the image" in text and
                 text.count("the tool opened the returned port") == 1,
                 "%s was not updated exactly once with the whole image:\n%s" % (m.label, text))
    t.expect("port back at %s/ttyACM4" % dev in a.text(), "A did not return as ttyACM4")
    t.expect("port gone from %s/ttyACM1 (restarting)" % dev in b.text(), "B did not restart")
    t.expect(station.returncode == 0, "station exit %s, expected 0" % station.returncode)
    ports = sorted(os.path.join(dev, n) for n in ("ttyACM0", "ttyACM1") * 2)
    return t.text("station.out"), t.text("station.err"), ports


def station_text(t):
    """The station's records as text: a UNIT PASS line per module, then the totals."""
    out, err, ports = run_station(t, False)
    units = re.findall(r"^UNIT (\S+) (.*?): (\S+), exit (\d+), [\d.]+ s, image (\d+) records "
                       r"sha256 [0-9a-f]{64}, kestrel-cli \S+$", out, re.M)
    t.expect(sorted(units, key=lambda u: u[1]) ==
             [("PASS", port, "succeeded", "0", str(RECORDS)) for port in ports] and
             out.splitlines()[-1:] == ["station: 4 passed, 0 failed"] and "station watching" in err,
             "unit records %r for %r; standard output and error:\n%s%s" % (units, ports, out, err))


def station_json(t):
    """The same with --json: every line a JSON object; station-begin, a unit event per
    module, then the station-end event."""
    out, err, ports = run_station(t, True)
    events = t.json_lines(out)
    units = sorted((e.get("port"), e.get("result"), e.get("exit_code"),
                    e.get("image", {}).get("records"), len(e.get("image", {}).get("sha256", "")))
                   for e in events if e["event"] == "unit")
    begins = [e["port"] for e in events if e["event"] == "begin"]
    t.expect(units == [(port, "succeeded", 0, RECORDS, 64) for port in ports] and
             events[0].get("event") == "station-begin" and
             events[0].get("pattern", "").endswith("/dev/ttyACM*") and len(begins) == 4 and
             begins == [e["port"] for e in events if e["event"] == "end"] and
             [events[-1].get(k) for k in ("event", "passed", "failed", "exit_code")] ==
             ["station-end", 4, 0, 0] and err == "",
             "station events:\n%s\nstandard error: %r" % (out, err))


def list_json(t):
    """--list --json on a tree two simulators share: each port with its kind, by-id name,
    USB ids, serial number and interface, in natural order."""
    plug(t, "one", "ttyACM10")
    plug(t, "three", "ttyACM3", "--usb-serial", "KS-L-0001")
    dev = os.path.join(t.tree, "dev")
    link = os.path.join(dev, "serial", "by-id", "usb-Norvald_Module_KS-L-0001-if00")
    os.makedirs(os.path.dirname(link))
    os.symlink("../../ttyACM3", link)  # as udev names it
    code, out, err = t.run("--list", "--json")
    t.expect((code, err) == (0, ""), "exit %s, standard error %r" % (code, err))
    common = {"v": 1, "event": "port", "kind": "cdc-acm", "by_path": [], "vid": "1a2b",
              "pid": "00c4", "manufacturer": None, "product": None, "interface": 0}
    t.expect(t.json_lines(out) == [dict(common, port=dev + "/ttyACM3", by_id=[link],
                                        serial="KS-L-0001"),
                                   dict(common, port=dev + "/ttyACM10", by_id=[], serial=None)],
             "--list --json said:\n" + out)


CASES = {"line.three_ports": lambda t: three_ports(t, False),
         "line.three_ports_json": lambda t: three_ports(t, True),
         "line.interrupted": interrupted, "line.reader_goes_away": reader_goes_away,
         "station_text": station_text, "station_json": station_json, "list_json": list_json}

if __name__ == "__main__":
    sys.exit(main(CASES))
