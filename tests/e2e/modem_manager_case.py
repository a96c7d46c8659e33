#!/usr/bin/env python3
"""kestrel-cli and ModemManager: one scenario against a mock on a private system bus."""

# A private bus (dbus-daemon with a configuration of the case's own) stands in for the system
# bus; the tool finds it through DBUS_SYSTEM_BUS_ADDRESS. ModemManager is the python-dbusmock
# template modem_manager_mock.py, which logs every InhibitDevice call with its sender and what
# the caller had done to the ptys by then. The update itself is checked as in run_case.py.
#   inhibit: ModemManager manages the module's port (among other ports and another modem), on
#     the USB road, where the port vanishes after the download command and returns as a new
#     pty. InhibitDevice(uid, true) comes before the tool first opens the port (so before its
#     first byte), InhibitDevice(uid, false) after its last close (after its last byte), the
#     returned port opened in between; both from the tool's own connection.
#   absent: no ModemManager on the bus, though the bus could start one on demand: the update as
#     ever, nothing more on stderr, and ModemManager not started.
#   refused: ModemManager refuses (polkit): the update as ever, no release asked for, and once
#     on stderr what the user can do: the udev rule with the module's USB ids, read from a
#     device tree of the case's own (KESTREL_SYSFS_ROOT).
# Exit 0 when the scenario passed, 1 when it failed (with the reasons), 2 on wrong usage.

import argparse
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from types import SimpleNamespace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_case import OK_LINES, SMALL_RECORDS, case_environment, failed, parse_summary  # noqa: E402,E501

MOCK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "modem_manager_mock.py")
SERVICE = "org.freedesktop.ModemManager1"
UID = "/sys/devices/pci0000:00/0000:00:14.0/usb9/9-4"
VENDOR, PRODUCT = "1a2b", "00c4"
RULE = 'ATTRS{idVendor}=="%s", ATTRS{idProduct}=="%s", ENV{ID_MM_DEVICE_IGNORE}="1"' % (
    VENDOR, PRODUCT)
# The tool's last line after a successful update, not what is looked at here.
FIGURES = re.compile(r"^kestrel-cli: sent \d+ records")
# Each scenario's road: simulator options, tool options, the tool's status lines. The USB port
# vanishes after the download command for longer than the tool's first wait.
USB = SimpleNamespace(sim=["--usb", "--usb-gone-ms", "2500"], cli=["--usb"], lines=OK_LINES)
SAME_RATE = SimpleNamespace(sim=["--rate", "115200"], cli=["--rate", "115200"],
                            lines=["INFO: original baudrate = 115200"] + OK_LINES)
ROADS = {"inhibit": USB, "absent": SAME_RATE, "refused": SAME_RATE}

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=%(tmp)s/bus</listen>
  <servicedir>%(tmp)s/services</servicedir>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""
# ModemManager as the bus would start it on demand: it only leaves a mark.
SERVICE_FILE = "[D-BUS Service]\nName=%s\nExec=/usr/bin/touch %%(tmp)s/started\n" % SERVICE


def start_bus(tmp, procs):
    os.mkdir(os.path.join(tmp, "services"))
    with open(os.path.join(tmp, "bus.conf"), "w") as f:
        f.write(BUS_CONFIG % {"tmp": tmp})
    with open(os.path.join(tmp, "services", SERVICE + ".service"), "w") as f:
        f.write(SERVICE_FILE % {"tmp": tmp})
    with open(os.path.join(tmp, "bus.err"), "w") as err:
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + os.path.join(tmp, "bus.conf"),
                                "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                               stderr=err)
    procs.append(bus)
    line = bus.stdout.readline() if select.select([bus.stdout], [], [], 10)[0] else b""
    if not line.startswith(b"unix:"):
        raise RuntimeError("dbus-daemon gave no address: %r" % line)
    return line.decode().strip()


def start_sim(road, paths, tmp, procs):
    # The simulated module on a pty behind tmp/dev/ttyMODEM; returns it and the pty's path.
    cmd = [paths.sim, "--link", os.path.join(tmp, "dev", "ttyMODEM"), "--once",
           "--image", paths.image, "--side-channel", os.path.join(tmp, "side.sock")] + road.sim
    with open(os.path.join(tmp, "sim.err"), "w") as err:
        sim = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err)
    procs.append(sim)
    ready = sim.stdout.readline() if select.select([sim.stdout], [], [], 10)[0] else b""
    m = re.search(rb"ready at .* \((/dev/pts/\d+)\)", ready)
    if not m:
        raise RuntimeError("simulator did not get ready: %r" % ready)
    return sim, m.group(1).decode()


def make_device_tree(tmp, pty):
    # The pty as the tty of interface 0 of a USB device with our ids; the device's name is the
    # case's own, so that its lock file meets no other test's.
    usb = os.path.join(tmp, "sys", "devices", "usb9", "9-%d" % os.getpid())
    tty = os.path.join(usb, "9-%d:1.0" % os.getpid(), "tty", "ttyACM0")
    os.makedirs(tty)
    for name, value in (("busnum", "9"), ("devnum", "4"), ("idVendor", VENDOR),
                        ("idProduct", PRODUCT)):
        with open(os.path.join(usb, name), "w") as f:
            f.write(value + "\n")
    with open(os.path.join(os.path.dirname(os.path.dirname(tty)), "bInterfaceNumber"), "w") as f:
        f.write("00\n")
    os.makedirs(os.path.join(tmp, "sys", "dev", "char"))
    rdev = os.stat(pty).st_rdev
    os.symlink(tty, os.path.join(tmp, "sys", "dev", "char",
                                 "%d:%d" % (os.major(rdev), os.minor(rdev))))


def start_mock(tmp, pty, refuse, procs):
    from dbusmock import DBusTestCase
    config = {"log": os.path.join(tmp, "calls"), "refuse": refuse,
              "modems": [["/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1", [["ttyUSB7", 3]]],
                         [UID, [["cdc-wdm3", 6], [os.path.basename(pty), 3]]]]}
    with open(os.path.join(tmp, "mock.out"), "w") as out:
        mock, _ = DBusTestCase.spawn_server_template(MOCK, {"config": json.dumps(config)},
                                                     stdout=out, system_bus=True)
    procs.append(mock)


def run_tool(road, paths, tmp, sysfs, run):
    env = case_environment(tmp)
    env.update(LD_PRELOAD=paths.shim, KESTREL_SIM_SIDE_CHANNEL=os.path.join(tmp, "side.sock"))
    if sysfs:
        env["KESTREL_SYSFS_ROOT"] = os.path.join(tmp, "sys")
    start = time.monotonic()
    with open(os.path.join(tmp, "out"), "w") as out, open(os.path.join(tmp, "err"), "w") as err:
        tool = subprocess.run([paths.cli, "--port", os.path.join(tmp, "dev", "ttyMODEM")] +
                              road.cli, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                              env=env, timeout=45)
    run.wall_s = time.monotonic() - start
    run.exit = tool.returncode
    with open(os.path.join(tmp, "out")) as f:
        run.lines = f.read().splitlines()
    with open(os.path.join(tmp, "err")) as f:
        run.err = f.read()


def check_inhibit(run, calls, cli, pty):
    asked = [(call["uid"], call["inhibit"]) for call in calls]
    if asked != [(UID, True), (UID, False)]:
        return ["InhibitDevice calls %r, expected (%s, true) then (%s, false)" % (asked, UID, UID)]
    first, last = calls
    back = re.search(r"port back at .* \((/dev/pts/\d+)\)", run.sim_err)
    opened_between = {name for name, kind in last["events"] if kind == "open"}
    return failed(
        (first["sender"] == last["sender"],
         "inhibited by %s, released by %s" % (first["sender"], last["sender"])),
        (first["exe"] == last["exe"] == os.path.realpath(cli),
         "the calls came from %r and %r, not from the tool" % (first["exe"], last["exe"])),
        (not first["ptys"] and [os.path.basename(pty), "open"] not in first["events"],
         "the port was opened before the inhibition: %r, %r" % (first["ptys"],
                                                                 first["events"])),
        (not last["ptys"], "the tool still held %r when it released" % last["ptys"]),
        (back is not None and os.path.basename(pty) in opened_between
         and os.path.basename(back.group(1)) in opened_between,
         "the module's port and the returned one were not both used while inhibited: %r"
         % last["events"]))


def check_refused(run, calls):
    hint = [line for line in run.err.splitlines() if not FIGURES.match(line)]
    return failed(
        ([(call["uid"], call["inhibit"]) for call in calls] == [(UID, True)],
         "InhibitDevice calls %r, expected only (%s, true)" % (calls, UID)),
        (len(hint) == 3 and "ModemManager did not agree" in hint[0]
         and "Error.Core.Unauthorized" in hint[0] and hint[2] == RULE,
         "not the hint, once, with the rule for %s:%s:\n%s" % (VENDOR, PRODUCT, "\n".join(hint))))


def run_scenario(scenario, paths, tmp, run):
    road = ROADS[scenario]
    procs = []
    try:
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = start_bus(tmp, procs)
        sim, pty = start_sim(road, paths, tmp, procs)
        if scenario == "refused":
            make_device_tree(tmp, pty)
        if scenario != "absent":
            start_mock(tmp, pty, scenario == "refused", procs)
        run_tool(road, paths, tmp, scenario == "refused", run)
        # Whatever the simulator still waits for after the tool is done, it is stopped.
        try:
            sim.wait(timeout=0.2)
        except subprocess.TimeoutExpired:
            sim.terminate()
            sim.wait(timeout=10)
        run.sim_out = sim.stdout.read().decode(errors="replace")
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
    with open(os.path.join(tmp, "sim.err")) as f:
        run.sim_err = f.read()
    calls = []
    if os.path.exists(os.path.join(tmp, "calls")):
        with open(os.path.join(tmp, "calls")) as f:
            calls = [json.loads(line) for line in f]
    s = parse_summary(run.sim_out)
    failures = failed(
        (run.lines == road.lines,
         "status lines:\n  got      %r\n  expected %r" % (run.lines, road.lines)),
        (run.exit == 0, "exit %s" % run.exit),
        ((s.get("accepted"), s.get("resends")) == (SMALL_RECORDS, 0),
         "loader accepted %s records with %s resends" % (s.get("accepted"), s.get("resends"))),
        ("equal the image" in s.get("result", ""), "image comparison: %r" % s.get("result")),
        (not os.path.exists(os.path.join(tmp, "started")),
         "the tool had the bus start ModemManager"),
    )
    if scenario == "inhibit":
        failures += check_inhibit(run, calls, paths.cli, pty)
    elif scenario == "refused":
        failures += check_refused(run, calls)
    else:
        extra = [line for line in run.err.splitlines() if not FIGURES.match(line)]
        failures += failed((not extra, "more on stderr: %r" % extra))
    if scenario != "refused":
        failures += failed(("ModemManager" not in run.err,
                            "ModemManager mentioned on stderr: %r" % run.err))
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario", choices=sorted(ROADS))
    for option in ("--sim", "--cli", "--image", "--shim"):
        parser.add_argument(option, required=True)
    paths = parser.parse_args()
    tmp = tempfile.mkdtemp(prefix="kestrel-mm-%s-" % paths.scenario)
    run = SimpleNamespace()
    failures = run_scenario(paths.scenario, paths, tmp, run)
    if hasattr(run, "wall_s"):
        print("%s: wall %.2f s, exit %s" % (paths.scenario, run.wall_s, run.exit))
        for line in run.lines + run.err.splitlines():
            print("  | " + line)
    if failures:
        print("FAILED %s:\n- %s\n- files kept in %s" % (paths.scenario, "\n- ".join(failures), tmp))
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed %s" % paths.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
