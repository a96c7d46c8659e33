#!/usr/bin/env python3
"""End-to-end cases of kestrel-cli's station mode and of --list, on one simulated device tree
shared by several kestrel-modem-sim modules.

Every module is a USB module (--usb: its port leaves after the download command and comes
back) whose port is TREE/dev/NAME on a USB bus of its own in the case's tree; kestrel-cli reads
the tree through KESTREL_SYSFS_ROOT and KESTREL_DEV_ROOT. Exit 0 when the case passed, 1 when
it failed (saying why), 2 on wrong usage."""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from production_case import RECORDS, Case, parse_json_lines

QUIET_S = 1  # the station's --quiet-time


class TreeModule:
    """A simulated USB module plugged in at TREE/dev/NAME (its own log, named after `label`)."""

    def __init__(self, case, label, name, options):
        self.label, self.port = label, os.path.join(case.tree, "dev", name)
        self.out = open(os.path.join(case.tmp, label + ".sim"), "w+")
        self.proc = subprocess.Popen(
            [case.args.sim, "--image", case.args.image, "--device-tree", case.tree,
             "--tty-name", name] + options, stdout=self.out, stderr=subprocess.STDOUT)
        case.wait(lambda: "ready at" in self.text(), 10, label + " ready")

    def text(self):
        with open(self.out.name) as f:
            return f.read()

    def count(self, what):
        return self.text().count(what)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class TreeCase(Case):
    def __init__(self, args, tmp):
        super().__init__(args, tmp)
        self.tree = os.path.join(tmp, "tree")
        self.env.update(KESTREL_SYSFS_ROOT=os.path.join(self.tree, "sys"),
                        KESTREL_DEV_ROOT=os.path.join(self.tree, "dev"))

    def plug(self, label, name, *options):
        m = TreeModule(self, label, name, list(options))
        self.modules.append(m)
        return m

    def wait(self, predicate, timeout_s, what):
        # Polls until predicate() holds; a wait that runs out is a failure saying what for.
        deadline = time.monotonic() + timeout_s
        while not predicate():
            if time.monotonic() >= deadline:
                self.expect(False, "waited %d s in vain for %s" % (timeout_s, what))
                return False
            time.sleep(0.02)
        return True


def usb_module(case, label, name, *options):
    # Away for 1 s after the download command: the tool's USB wait, kept short.
    return case.plug(label, name, "--usb", "--usb-gone-ms", "1000", *options)


def watching(pid):
    # The station's watcher exists (its inotify and wake-up descriptors), and with it the
    # list of ports present at the start, which a station leaves alone.
    try:
        fds = [os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%d/fd" % pid)]
    except OSError:
        return False
    return "anon_inode:inotify" in fds and "anon_inode:[eventfd]" in fds


def run_station(case, as_json):
    """Modules plugged in one after another: A re-enumerates during its update under another
    name, B restarts after its update and shows up again, C2 comes into A's slot (no serial
    number) after the quiet time, C1 into B's slot with a serial number of its own. Each is
    updated exactly once, and SIGINT ends the station with exit 0 and the totals.
    Returns the station's exit code, standard output and the modules."""
    dev = os.path.join(case.tree, "dev")
    out_path, err_path = os.path.join(case.tmp, "station.out"), os.path.join(case.tmp, "station.err")
    with open(out_path, "w") as out, open(err_path, "w") as err:
        station = case.cli("--station", os.path.join(dev, "ttyACM*"), "--usb", "--quiet-time",
                           str(QUIET_S), *(["--json"] if as_json else []), stdout=out, stderr=err)
    try:
        case.wait(lambda: watching(station.pid), 10, "the station to watch")

        def units():
            text = open(out_path).read()
            return (text.count('"event":"unit"') if as_json else
                    len(re.findall(r"^UNIT ", text, re.M)))

        a = usb_module(case, "A", "ttyACM0", "--usb-return-as", "ttyACM4")
        case.wait(lambda: "transfer began" in a.text(), 20, "A's transfer")
        b = usb_module(case, "B", "ttyACM1", "--usb-serial", "KS-B-0002",
                       "--restart-after-update-ms", "300")
        case.wait(lambda: "update ended" in a.text(), 20, "A's update")
        # A unplugged; its slot (names and USB place, no serial number) takes a new module
        # once it has been empty for the quiet time.
        a.stop()
        time.sleep(QUIET_S + 1.0)
        c2 = usb_module(case, "C2", "ttyACM0")
        case.wait(lambda: b.count("port back at") == 2, 20, "B's update and restart")
        # B stays plugged a while after its restart: a station that took it for a new module
        # would open it now. Then a new module with a serial number of its own in its slot.
        time.sleep(1.0)
        b.stop()
        c1 = usb_module(case, "C1", "ttyACM1", "--usb-serial", "KS-C-0003")
        case.wait(lambda: "update ended" in c2.text(), 20, "C2's update")
        case.wait(lambda: "update ended" in c1.text(), 20, "C1's update")
        case.wait(lambda: units() == 4, 10, "four unit records")
    finally:
        if station.poll() is None:
            station.send_signal(signal.SIGINT)
        try:
            station.wait(timeout=20)
        except subprocess.TimeoutExpired:
            station.kill()
            station.wait()
            case.expect(False, "the station did not end within 20 s of SIGINT")
        for m in case.modules:
            m.stop()

    for m in case.modules:
        # One update each, the whole image, and never opened again after it.
        text = m.text()
        case.expect(text.count("update ended") == 1 and "update ended (stopped)" not in text,
                    "%s was not updated exactly once:\n%s" % (m.label, text))
        case.expect(re.findall(r"blocks accepted (\d+)", text) == [str(RECORDS)] and
                    "result: the accepted records equal the image" in text,
                    "%s: not the whole image:\n%s" % (m.label, text))
        case.expect(m.count("the tool opened the returned port") == 1,
                    "%s: its returned port opened %d times" %
                    (m.label, m.count("the tool opened the returned port")))
    case.expect("port back at %s/ttyACM4" % dev in a.text(), "A did not return as ttyACM4")
    case.expect("port gone from %s/ttyACM1 (restarting)" % dev in b.text(), "B did not restart")
    case.expect(station.returncode == 0, "station exit %s, expected 0" % station.returncode)
    ports = sorted(os.path.join(dev, n) for n in ("ttyACM0", "ttyACM1", "ttyACM0", "ttyACM1"))
    return open(out_path).read(), open(err_path).read(), ports


def station_text(case):
    """The station's records as text: a UNIT PASS line per module, then the totals."""
    out, err, expected_ports = run_station(case, False)
    units = re.findall(r"^UNIT (\S+) (.*?): (\S+), exit (\d+), [\d.]+ s, image (\d+) records "
                       r"sha256 ([0-9a-f]{64}), kestrel-cli \S+$", out, re.M)
    ports = sorted(u[1] for u in units)
    case.expect(ports == expected_ports,
                "unit records' ports %r, expected %r" % (ports, expected_ports))
    case.expect(all(u[0] == "PASS" and u[2] == "succeeded" and u[3] == "0" and
                    u[4] == str(RECORDS) for u in units), "unit records: %r" % units)
    case.expect(out.splitlines()[-1:] == ["station: 4 passed, 0 failed"],
                "last line: %r" % out.splitlines()[-1:])
    case.expect("station watching" in err, "no watching line on standard error: %r" % err)


def station_json(case):
    """The same with --json: every line a JSON object; a unit event per module, then the
    station-end event."""
    out, err, expected_ports = run_station(case, True)
    events = parse_json_lines(case, out)
    case.expect(events[:1] and events[0].get("event") == "station-begin" and
                events[0].get("pattern", "").endswith("/dev/ttyACM*"),
                "first event: %r" % events[:1])
    units = [e for e in events if e["event"] == "unit"]
    ports = sorted(e.get("port") for e in units)
    case.expect(ports == expected_ports,
                "unit events' ports %r, expected %r" % (ports, expected_ports))
    for e in units:
        case.expect((e.get("result"), e.get("exit_code"), e.get("image", {}).get("records")) ==
                    ("succeeded", 0, RECORDS) and len(e["image"].get("sha256", "")) == 64,
                    "unit event: %r" % e)
    begins = [e["port"] for e in events if e["event"] == "begin"]
    case.expect(begins == [e["port"] for e in events if e["event"] == "end"] and len(begins) == 4,
                "sessions begun %r" % begins)
    case.expect(events[-1:] and events[-1].get("event") == "station-end" and
                (events[-1].get("passed"), events[-1].get("failed"),
                 events[-1].get("exit_code")) == (4, 0, 0), "last event: %r" % events[-1:])
    case.expect(err == "", "standard error with --json: %r" % err)


def list_json(case):
    """--list --json on a tree two simulators share: each port with its kind, by-id name,
    USB ids, serial number and interface, in natural order."""
    case.plug("one", "ttyACM10")
    case.plug("three", "ttyACM3", "--usb-serial", "KS-L-0001")
    by_id = os.path.join(case.tree, "dev", "serial", "by-id")
    os.makedirs(by_id)
    link = os.path.join(by_id, "usb-Norvald_Module_KS-L-0001-if00")
    os.symlink("../../ttyACM3", link)  # as udev names it
    code, out, err = case.run("--list", "--json")
    case.expect((code, err) == (0, ""), "exit %s, standard error %r" % (code, err))
    dev = os.path.join(case.tree, "dev")
    common = {"v": 1, "event": "port", "kind": "cdc-acm", "by_path": [], "vid": "1a2b",
              "pid": "00c4", "manufacturer": None, "product": None, "interface": 0}
    expected = [dict(common, port=dev + "/ttyACM3", by_id=[link], serial="KS-L-0001"),
                dict(common, port=dev + "/ttyACM10", by_id=[], serial=None)]
    case.expect(parse_json_lines(case, out) == expected, "--list --json said:\n" + out)


CASES = {f.__name__: f for f in (station_text, station_json, list_json)}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("case", choices=sorted(CASES))
    ap.add_argument("--sim", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--image", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="kestrel-station-") as tmp:
        case = TreeCase(args, tmp)
        started = time.monotonic()
        try:
            CASES[args.case](case)
        except Exception as e:  # a harness fault is a failure too, with its reason
            case.failures.append("%s: %s" % (type(e).__name__, e))
        finally:
            for m in case.modules:
                m.stop()
        for f in case.failures:
            print("FAILED: " + f)
        if case.failures:
            for m in case.modules:
                print("--- %s:\n%s" % (m.label, m.text()))
        print("%s: %s in %.1f s" % (args.case, "failed" if case.failures else "passed",
                                     time.monotonic() - started))
        return 1 if case.failures else 0


if __name__ == "__main__":
    sys.exit(main())
