#!/usr/bin/env python3
"""Installs the build into a temporary DESTDIR (prefix /usr, as the Debian package does) and
checks what a user gets: the layout, the programs' images, the window's RUNPATH, and that the
installed programs run.

  check_install.py --cmake CMAKE --build BUILD --readelf READELF --image-check PROGRAM
                   --version VERSION --packed-cli FILE [--packed-window FILE] [--simulator]

--packed-window: the window program is built (and so are its library, desktop entry and
icons); --simulator: kestrel-modem-sim is to be installed. Exit 0 when everything holds, 1
with the reasons otherwise.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

PREFIX = "usr"
STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')


def run(cmd, **kwargs):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60,
                          **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def image_of(args, program):
    """What the tool's image reader finds behind `program`."""
    r = run([args.image_check, program])
    return r.returncode, r.stdout.decode(errors="replace").strip()


def check_files(args, root, failures):
    expected = ["bin/kestrel-cli", "share/doc/kestrel/udev/70-kestrel-modem.rules"]
    if args.packed_window:
        expected += ["bin/kestrel", "lib/libkestrel-ui.so", "share/applications/kestrel.desktop",
                     "share/icons/hicolor/16x16/apps/kestrel.png",
                     "share/icons/hicolor/32x32/apps/kestrel.png"]
    if args.simulator:
        expected.append("bin/kestrel-modem-sim")
    for name in expected:
        if not os.path.isfile(os.path.join(root, name)):
            failures.append("missing: %s" % name)
    for name in ("bin/kestrel", "bin/kestrel-cli", "bin/kestrel-modem-sim"):
        path = os.path.join(root, name)
        if os.path.exists(path) and not os.access(path, os.X_OK):
            failures.append("not executable: %s" % name)
    if not args.simulator and os.path.exists(os.path.join(root, "bin/kestrel-modem-sim")):
        failures.append("kestrel-modem-sim installed although not asked for")
    # The udev rule is documentation: nothing may land in a system rules folder.
    for folder in ("etc", os.path.join(PREFIX, "lib/udev")):
        if os.path.exists(os.path.join(args.destdir, folder)):
            failures.append("installed into %s/" % folder)

    rule = os.path.join(root, "share/doc/kestrel/udev/70-kestrel-modem.rules")
    if os.path.isfile(rule):
        with open(rule) as f:
            text = f.read()
        if 'ENV{ID_MM_DEVICE_IGNORE}="1"' not in text or 'ATTRS{idVendor}=="VVVV"' not in text:
            failures.append("the udev rule lacks the ignore flag or the ids to fill in")
    for size in (16, 32):
        png = os.path.join(root, "share/icons/hicolor/%dx%d/apps/kestrel.png" % (size, size))
        if os.path.isfile(png) and png_size(png) != (size, size):
            failures.append("%s is no %dx%d PNG: %r" % (png, size, size, png_size(png)))
    desktop = os.path.join(root, "share/applications/kestrel.desktop")
    if os.path.isfile(desktop):
        with open(desktop) as f:
            lines = f.read().splitlines()
        for wanted in ("[Desktop Entry]", "Type=Application", "Exec=kestrel", "Icon=kestrel"):
            if wanted not in lines:
                failures.append("desktop entry lacks %r" % wanted)
        validate = shutil.which("desktop-file-validate")
        if validate:
            r = run([validate, desktop])
            if r.returncode != 0:
                failures.append("desktop-file-validate: %s" % r.stdout.decode(errors="replace"))


def check_cli(args, root, failures):
    cli = os.path.join(root, "bin/kestrel-cli")
    if not os.path.isfile(cli):
        return
    r = run([cli, "--version"])
    out = r.stdout.decode(errors="replace")
    if r.returncode != 0 or out != "kestrel-cli %s\n" % args.version:
        failures.append("installed kestrel-cli --version: exit %d, %r" % (r.returncode, out))
    got, want = image_of(args, cli), image_of(args, args.packed_cli)
    if got[0] != 0 or got != want:
        failures.append("image behind the installed kestrel-cli: %r, built one: %r" % (got, want))


def check_window(args, root, tmp, failures):
    window = os.path.join(root, "bin/kestrel")
    if not os.path.isfile(window):
        return
    got, want = image_of(args, window), image_of(args, args.packed_window)
    if got[0] != 0 or got != want:
        failures.append("image behind the installed kestrel: %r, built one: %r" % (got, want))

    r = run([args.readelf, "-d", window])
    dynamic = r.stdout.decode(errors="replace")
    if "(RUNPATH)" not in dynamic or "Library runpath: [$ORIGIN/../lib]" not in dynamic:
        failures.append("installed kestrel's RUNPATH is not $ORIGIN/../lib:\n%s" % dynamic)

    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD")}
    # The dynamic loader names the library it would load, and from where.
    r = run([window], env=dict(env, LD_TRACE_LOADED_OBJECTS="1"))
    wanted = os.path.join(root, "bin/../lib/libkestrel-ui.so")
    if ("libkestrel-ui.so => %s " % wanted) not in r.stdout.decode(errors="replace"):
        failures.append("installed kestrel does not load lib/libkestrel-ui.so:\n%s"
                        % r.stdout.decode(errors="replace"))

    # It starts: offscreen, with a settings store of its own whose port does not exist (so
    # START, which the test drive presses, fails at once), and closes when its standard input
    # ends, with exit code 2.
    config = os.path.join(tmp, "config")
    os.makedirs(os.path.join(config, "Norvald"))
    with open(os.path.join(config, "Norvald", "Kestrel.reg"), "w", newline="") as f:
        f.write(STORE % os.path.join(tmp, "no-such-port"))
    runtime = os.path.join(tmp, "run")
    os.mkdir(runtime, 0o700)
    env.update(QT_QPA_PLATFORM="offscreen", KESTREL_TEST_DRIVE="1", XDG_CONFIG_HOME=config,
               XDG_RUNTIME_DIR=runtime)
    proc = subprocess.Popen([window], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=env)
    time.sleep(1.0)
    try:
        out, _ = proc.communicate(input=b"", timeout=30)  # closes its standard input
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
        failures.append("installed kestrel did not close")
    if proc.returncode != 2:
        failures.append("installed kestrel ended with %s, expected 2:\n%s" % (
            proc.returncode, out.decode(errors="replace")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--cmake", "--build", "--readelf", "--image-check", "--version",
                   "--packed-cli"):
        parser.add_argument(option, required=True)
    parser.add_argument("--packed-window")
    parser.add_argument("--simulator", action="store_true")
    args = parser.parse_args()

    tmp = tempfile.mkdtemp(prefix="kestrel-install-")
    args.destdir = os.path.join(tmp, "dest")
    root = os.path.join(args.destdir, PREFIX)
    failures = []
    r = run([args.cmake, "--install", args.build, "--prefix", "/" + PREFIX],
            env=dict(os.environ, DESTDIR=args.destdir))
    print(r.stdout.decode(errors="replace"), end="")
    if r.returncode != 0:
        failures.append("cmake --install failed with %d" % r.returncode)
    else:
        check_files(args, root, failures)
        check_cli(args, root, failures)
        check_window(args, root, tmp, failures)
    if failures:
        print("FAILED:\n- " + "\n- ".join(failures))
        print("files kept in " + tmp)
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed: the installed layout holds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
