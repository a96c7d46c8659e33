#!/usr/bin/env python3
"""kestrel-cli and ModemManager: one scenario against a mock on a private system bus."""

# A run_case.py case whose flow first starts a private bus (dbus-daemon with a configuration of
# the case's own) in place of the system bus; the tool finds it through
# DBUS_SYSTEM_BUS_ADDRESS. ModemManager is the python-dbusmock template modem_manager_mock.py,
# which logs every InhibitDevice call with its sender and what the caller had done to the ptys
# by then. The update itself is checked by run_case.py as every case is.
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

import json
import os
import re
import select
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import main  # noqa: E402
from run_case import OK_LINES, failed, single_cli, update  # noqa: E402

MOCK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "modem_manager_mock.py")
SERVICE = "org.freedesktop.ModemManager1"
UID = "/sys/devices/pci0000:00/0000:00:14.0/usb9/9-4"
VENDOR, PRODUCT = "1a2b", "00c4"
RULE = 'ATTRS{idVendor}=="%s", ATTRS{idProduct}=="%s", ENV{ID_MM_DEVICE_IGNORE}="1"' % (
    VENDOR, PRODUCT)
FIGURES = re.compile(r"^kestrel-cli: sent \d+ records")

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><listen>unix:path=%(tmp)s/bus</listen><servicedir>%(tmp)s/services</servicedir>
  <auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/>
  <allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
"""
# ModemManager as the bus would start it on demand: it only leaves a mark.
SERVICE_FILE = "[D-BUS Service]\nName=%s\nExec=/usr/bin/touch %%(tmp)s/started\n" % SERVICE


def start_bus(tmp, programs):
    os.mkdir(os.path.join(tmp, "services"))
    for name, text in (("bus.conf", BUS_CONFIG), ("services/%s.service" % SERVICE, SERVICE_FILE)):
        with open(os.path.join(tmp, name), "w") as f:
            f.write(text % {"tmp": tmp})
    bus = subprocess.Popen(["dbus-daemon", "--config-file=" + os.path.join(tmp, "bus.conf"),
                            "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
    programs.append(bus)
    line = bus.stdout.readline() if select.select([bus.stdout], [], [], 10)[0] else b""
    if not line.startswith(b"unix:"):
        raise RuntimeError("dbus-daemon gave no address: %r" % line)
    return line.decode().strip()


def make_device_tree(tmp, pty):
    # The pty as the tty of interface 0 of a USB device with our ids; the device's name is the
    # case's own, so that its lock file meets no other test's.
    usb = os.path.join(tmp, "sys", "devices", "usb9", "9-%d" % os.getpid())
    tty = os.path.join(usb, "9-%d:1.0" % os.getpid(), "tty", "ttyACM0")
    os.makedirs(tty)
    for name, value in (("busnum", "9"), ("devnum", "4"), ("idVendor", VENDOR),
                        ("idProduct", PRODUCT), ("9-%d:1.0/bInterfaceNumber" % os.getpid(), "00")):
        with open(os.path.join(usb, name), "w") as f:
            f.write(value + "\n")
    os.makedirs(os.path.join(tmp, "sys", "dev", "char"))
    rdev = os.stat(pty).st_rdev
    os.symlink(tty, os.path.join(tmp, "sys", "dev", "char",
                                 "%d:%d" % (os.major(rdev), os.minor(rdev))))


def start_mock(tmp, pty, refuse, programs):
    from dbusmock import DBusTestCase
    config = {"log": os.path.join(tmp, "calls"), "refuse": refuse,
              "modems": [["/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1", [["ttyUSB7", 3]]],
                         [UID, [["cdc-wdm3", 6], [os.path.basename(pty), 3]]]]}
    with open(os.path.join(tmp, "mock.out"), "w") as out:
        mock, _ = DBusTestCase.spawn_server_template(MOCK, {"config": json.dumps(config)},
                                                     stdout=out, system_bus=True)
    programs.append(mock)


def check_inhibit(calls, cli, pty, sim_err):
    asked = [(call["uid"], call["inhibit"]) for call in calls]
    if asked != [(UID, True), (UID, False)]:
        return ["InhibitDevice calls %r, expected (%s, true) then (%s, false)" % (asked, UID, UID)]
    first, last = calls
    back = re.search(r"port back at .* \((/dev/pts/\d+)\)", sim_err)
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


def scenario(name):
    # The flow: bus, device tree and mock as the scenario wants them, then one kestrel-cli.
    def flow(c, t, run):
        address = start_bus(t.tmp, t.programs)
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = t.env["DBUS_SYSTEM_BUS_ADDRESS"] = address
        if name == "refused":
            make_device_tree(t.tmp, t.slave)
            t.env["KESTREL_SYSFS_ROOT"] = t.path("sys")
        if name != "absent":
            start_mock(t.tmp, t.slave, name == "refused", t.programs)
        single_cli(c, t, run)
        calls = [json.loads(line) for line in
                 (t.text("calls") if os.path.exists(t.path("calls")) else "").splitlines()]
        return failed((not os.path.exists(t.path("started")),
                       "the tool had the bus start ModemManager")) + (
            check_inhibit(calls, t.program, t.slave, t.module.text()) if name == "inhibit" else
            check_refused(run, calls) if name == "refused" else [])
    return flow


SAME_RATE = dict(sim=["--rate", "115200"], cli=["--rate", "115200"],
                 lines=["INFO: original baudrate = 115200"] + OK_LINES)
# The USB port vanishes after the download command for longer than the tool's first wait. On
# the other roads standard error holds the figures and nothing else (no word of ModemManager),
# but after a refusal the hint as well.
CASES = {"modem_manager_inhibit": update(sim=["--usb", "--usb-gone-ms", "2500"], cli=["--usb"],
                                         flow=scenario("inhibit")),
         "modem_manager_absent": update(**SAME_RATE, flow=scenario("absent")),
         "modem_manager_refused": update(**SAME_RATE, err=r".*", flow=scenario("refused"))}

if __name__ == "__main__":
    sys.exit(main(CASES))
