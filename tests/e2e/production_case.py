#!/usr/bin/env python3
"""kestrel-cli on a production line: several kestrel-modem-sim modules at once."""

# Ports given on the command line: modules behind pty links in the case's folder, entered the
# blind way (--no-firmware: no modem-line shim needed); exit codes, the summary table, a reader that goes away, transcripts. Station mode and --list: USB modules
# (--usb: the port leaves after the download command and comes back) at TREE/dev/NAME of one
# simulated device tree, each on a USB bus of its own. Every line kestrel-cli prints with
# --json is parsed with Python's json module.

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


def three_ports(t):
    """One module succeeds, one refuses block 5 with a fatal answer, one never answers block 3:
    each session's status line and exit code in the summary table, the failures' transcripts."""
    ok, fatal, silent = (module(t, "ok"), module(t, "fatal", "--fatal-at", "5"),
                         module(t, "silent", "--silent-at", "3"))
    code, out, err = t.run("--no-firmware", "--port", ok.port, "--port", fatal.port, "--port",
                           silent.port)
    for m in (ok, fatal, silent):
        m.stop()
    accepted = [m.accepted() for m in (ok, fatal, silent)]
    t.expect((code, accepted) == (1, [RECORDS, 5, 3]), "exit %s, accepted %s" % (code, accepted))
    lines = out.splitlines()
    rows = {l.split()[0]: l.split() for l in lines if l.startswith(t.tmp) and "  " in l
            and ": " not in l}
    for port, text, exit_code in (
            (ok.port, "Download succeeded.", 0),
            (fatal.port, "ERROR: unexpected or fatal response (0x15) to block 5.", 6),
            (silent.port, "ERROR: Timout waiting fo response after block no.3", 6)):
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
    """The same with --json: every line a JSON object; station-begin, then each module's events
    framed by begin (with the image) and end, its phases and a unit event, then the
    station-end event."""
    out, err, ports = run_station(t, True)
    events = t.json_lines(out)

    def each(name):  # port, result, exit code and image of every event of that name
        return sorted((e.get("port"), e.get("result"), e.get("exit_code"),
                       e.get("image", {}).get("records"), len(e.get("image", {}).get("sha256", "")))
                      for e in events if e["event"] == name)
    begins = [e["port"] for e in events if e["event"] == "begin"]
    phases = [e["phase"] for e in events if e["event"] == "phase"]
    t.expect(each("unit") == [(port, "succeeded", 0, RECORDS, 64) for port in ports] and
             each("begin") == [(port, None, None, RECORDS, 64) for port in ports] and
             events[0].get("event") == "station-begin" and
             events[0].get("pattern", "").endswith("/dev/ttyACM*") and
             begins == [e["port"] for e in events if e["event"] == "end"] and
             phases.count("entry") == phases.count("start-signal") == phases.count("transfer") == 4
             and [events[-1].get(k) for k in ("event", "passed", "failed", "exit_code")] ==
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


CASES = {"line.three_ports": three_ports,
         "line.reader_goes_away": reader_goes_away,
         "station_text": station_text, "station_json": station_json, "list_json": list_json}

if __name__ == "__main__":
    sys.exit(main(CASES))
