"""ModemManager for the end-to-end cases: a python-dbusmock template.

Parameter "config" (JSON): "modems", a list of [Device, [[port name, port type], ...]];
"log", a file that gets one JSON line per InhibitDevice call; "refuse", true to answer every
InhibitDevice as polkit makes ModemManager answer a caller without the right.

Each call is logged with its sender (the unique name and the program behind it), the ptys
that program holds open at that moment, and the opens and closes of files in /dev/pts since
the previous call. The kernel queues those events as the files are opened and closed, before
the opener can go on to send us anything, so the log tells exactly what the caller had done
to its port when it asked.
"""

import ctypes
import json
import os
import struct
import sys

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import open_files  # noqa: E402

BUS_NAME = "org.freedesktop.ModemManager1"
MAIN_OBJ = "/org/freedesktop/ModemManager1"
MAIN_IFACE = "org.freedesktop.ModemManager1"
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MODEM_IFACE = "org.freedesktop.ModemManager1.Modem"
IN_CLOSE_WRITE, IN_CLOSE_NOWRITE, IN_OPEN = 0x08, 0x10, 0x20


def load(mock, parameters):
    config = json.loads(parameters["config"])
    for index, (device, ports) in enumerate(config["modems"]):
        mock.AddObject("%s/Modem/%d" % (MAIN_OBJ, index), MODEM_IFACE, {
            "Device": dbus.String(device),
            "Ports": dbus.Array([dbus.Struct((dbus.String(name), dbus.UInt32(kind)))
                                 for name, kind in ports], signature="(su)"),
            "PrimaryPort": dbus.String(ports[0][0]),
        }, [])
    mock.kestrel_log = config["log"]
    mock.kestrel_refuse = config.get("refuse", False)
    libc = ctypes.CDLL(None, use_errno=True)
    mock.kestrel_inotify = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
    if mock.kestrel_inotify < 0 or libc.inotify_add_watch(
            mock.kestrel_inotify, b"/dev/pts", IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0:
        raise OSError(ctypes.get_errno(), "inotify on /dev/pts")


def pty_events(fd):
    # [name, "open" or "close"] for every event queued since the last call.
    events = []
    while True:
        try:
            data = os.read(fd, 65536)
        except BlockingIOError:
            return events
        at = 0
        while at < len(data):
            _, mask, _, length = struct.unpack_from("iIII", data, at)
            name = data[at + 16:at + 16 + length].rstrip(b"\0").decode()
            events.append([name, "open" if mask & IN_OPEN else "close"])
            at += 16 + length


@dbus.service.method(MAIN_IFACE, in_signature="sb", out_signature="", sender_keyword="sender",
                     connection_keyword="connection")
def InhibitDevice(self, uid, inhibit, sender=None, connection=None):
    events = pty_events(self.kestrel_inotify)
    pid = int(connection.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                       "s", (sender,)))
    ptys = [f for f in open_files(pid) if f.startswith("/dev/pts/") or f == "/dev/ptmx"]
    record = {"uid": str(uid), "inhibit": bool(inhibit), "sender": str(sender),
              "exe": os.readlink("/proc/%d/exe" % pid), "ptys": ptys, "events": events}
    with open(self.kestrel_log, "a") as log:
        log.write(json.dumps(record) + "\n")
    if self.kestrel_refuse:
        raise dbus.exceptions.DBusException(
            "PolicyKit authorization failed: not authorized for "
            "'org.freedesktop.ModemManager1.Device.Control'",
            name="org.freedesktop.ModemManager1.Error.Core.Unauthorized")
