#!/usr/bin/env python3
"""Builds the Debian packages with CPack, installs each into a temporary root of its own
(dpkg-deb -x) and checks what a user gets, then runs lintian on them.

  check_packages.py --cpack CPACK --build BUILD --readelf READELF --image-check PROGRAM
                    --version VERSION --source SOURCE_DIR --drive-window DRIVE_WINDOW_PY
                    --packed-cli FILE [--packed-window FILE] [--simulator]

--packed-window: the window program is built, so there is a second package; --simulator:
kestrel-modem-sim belongs to the command-line package. Checked: each package's exact file
list and control fields (the command-line tools must not pull in Qt), the images behind the
installed programs (never stripped) and that everything else is stripped, that kestrel-cli
and the window find their private libraries and start, the manual pages (rendered without
warnings, every option of a program's --help in its page), desktop entry, AppStream metainfo
and icons, copyright and changelog, and lintian without any error or warning. Exit 0 when
everything holds, 1 with the reasons otherwise.
"""

import argparse
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

STORE = ('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n'
         '"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n')
ICON_SIZES = (16, 32, 48, 64, 128, 256)
METAINFO = "usr/share/metainfo/com.norvald.kestrel.metainfo.xml"


def run(cmd, timeout=120, **kwargs):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                          **kwargs)


def text_of(result):
    return result.stdout.decode(errors="replace")


def tool(name, failures):
    path = shutil.which(name)
    if not path:
        failures.append("%s is not installed (scripts/install-deps.sh installs it)" % name)
    return path


def expected_files(args):
    doc_cli, doc_window = "usr/share/doc/kestrel-cli/", "usr/share/doc/kestrel/"
    cli = ["usr/bin/kestrel-cli", "usr/lib/kestrel/libkestrel-cli.so", "usr/bin/kestrel-pack",
           "usr/share/man/man1/kestrel-cli.1.gz", "usr/share/man/man1/kestrel-pack.1.gz",
           doc_cli + "copyright", doc_cli + "changelog.gz", doc_cli + "user-guide.md",
           doc_cli + "window.png", doc_cli + "linux-host.md",
           doc_cli + "udev/70-kestrel-modem.rules"]
    if args.simulator:
        cli += ["usr/bin/kestrel-modem-sim", "usr/share/man/man1/kestrel-modem-sim.1.gz"]
    window = ["usr/bin/kestrel", "usr/lib/kestrel/libkestrel-ui.so",
              "usr/share/man/man1/kestrel.1.gz", "usr/share/applications/kestrel.desktop",
              METAINFO, "usr/share/icons/hicolor/scalable/apps/kestrel.svg",
              doc_window + "copyright", doc_window + "changelog.gz"]
    window += ["usr/share/icons/hicolor/%dx%d/apps/kestrel.png" % (s, s) for s in ICON_SIZES]
    packages = {"kestrel-cli": sorted(cli)}
    if args.packed_window:
        packages["kestrel"] = sorted(window)
    return packages


def files_under(root):
    found = []
    for folder, _, names in os.walk(root):
        found += [os.path.relpath(os.path.join(folder, n), root) for n in names]
    return sorted(found)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def image_of(args, program):
    """What the tool's image reader finds behind `program`."""
    r = run([args.image_check, program])
    return r.returncode, text_of(r).strip()


def check_control(args, name, deb, failures):
    fields = {}
    for field in ("Package", "Version", "Depends", "Source"):
        fields[field] = text_of(run(["dpkg-deb", "-f", deb, field])).strip()
    if (fields["Package"], fields["Version"], fields["Source"]) != (name, args.version, "kestrel"):
        failures.append("%s: control fields %r" % (name, fields))
    depends = fields["Depends"]
    if name == "kestrel-cli" and "qt" in depends.lower():
        failures.append("kestrel-cli depends on Qt: %s" % depends)
    if name == "kestrel" and ("kestrel-cli (= %s)" % args.version not in depends
                              or "libqt6widgets6" not in depends):
        failures.append("kestrel does not depend on kestrel-cli and Qt: %s" % depends)


def check_binaries(args, name, root, failures):
    packed = {"usr/bin/kestrel-cli": args.packed_cli, "usr/bin/kestrel": args.packed_window}
    for rel in files_under(root):
        path = os.path.join(root, rel)
        with open(path, "rb") as f:
            if f.read(4) != b"\x7fELF":
                continue
        if rel in packed:
            # The image behind the program is whole: nothing stripped it off.
            got, want = image_of(args, path), image_of(args, packed[rel])
            if got[0] != 0 or got != want:
                failures.append("image behind %s: %r, built one: %r" % (rel, got, want))
        elif ".symtab" in text_of(run([args.readelf, "-S", "-W", path])):
            failures.append("%s: %s is not stripped" % (name, rel))
        dynamic = text_of(run([args.readelf, "-d", "-W", path]))
        if "BIND_NOW" not in dynamic and "Flags: NOW" not in dynamic:
            failures.append("%s: %s is not linked with -z now" % (name, rel))


def check_man_pages(args, root, failures):
    man = tool("man", failures)
    if not man:
        return
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    for page in glob.glob(os.path.join(root, "usr/share/man/man1/*.1.gz")):
        # As lintian reads a page: warnings of man and groff are defects.
        r = subprocess.run([man, "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env, timeout=60)
        if r.returncode != 0 or r.stderr:
            failures.append("man %s: %s" % (os.path.basename(page), r.stderr.decode()))
        program = os.path.join(root, "usr/bin", os.path.basename(page)[:-len(".1.gz")])
        if os.path.basename(program) == "kestrel":
            continue  # the window has no --help
        # Made from the program's --help: every option it lists is in the page.
        shown = text_of(run([man, "-l", page], env=dict(env, LC_ALL="C", MANWIDTH="200")))
        if os.path.realpath(args.build) in shown:
            failures.append("%s's page names the build tree" % os.path.basename(program))
        for option in sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text_of(
                run([program, "--help"]))))):
            if option not in shown:
                failures.append("%s's page lacks %s" % (os.path.basename(program), option))


def check_documents(args, name, root, failures):
    doc = os.path.join(root, "usr/share/doc", name)
    changelog = os.path.join(doc, "changelog.gz")
    if os.path.isfile(changelog):
        with gzip.open(changelog, "rt") as f:
            first = f.readline()
        if not first.startswith("kestrel (%s) " % args.version):
            failures.append("%s: the changelog's latest entry is not %s: %r"
                            % (name, args.version, first))
    copyright_file = os.path.join(doc, "copyright")
    if os.path.isfile(copyright_file):
        with open(copyright_file) as f, open(os.path.join(args.source, "LICENSE")) as g:
            licence = [l.strip() for l in g.read().split("\n\n")[2:]]  # the terms, not the title
            text = " ".join(f.read().split())
        for paragraph in licence:
            if " ".join(paragraph.split()) not in text:
                failures.append("%s: the copyright file lacks the licence's %r"
                                % (name, paragraph[:40]))
    rule = os.path.join(doc, "udev/70-kestrel-modem.rules")
    if os.path.isfile(rule):
        with open(rule) as f:
            text = f.read()
        if 'ENV{ID_MM_DEVICE_IGNORE}="1"' not in text or 'ATTRS{idVendor}=="VVVV"' not in text:
            failures.append("the udev rule lacks the ignore flag or the ids to fill in")


def check_desktop(args, root, failures):
    desktop = os.path.join(root, "usr/share/applications/kestrel.desktop")
    validate = tool("desktop-file-validate", failures)
    if validate and os.path.isfile(desktop):
        r = run([validate, desktop])
        if r.returncode != 0 or r.stdout:
            failures.append("desktop-file-validate: %s" % text_of(r))
    metainfo = os.path.join(root, METAINFO)
    appstream = tool("appstreamcli", failures)
    if appstream and os.path.isfile(metainfo):
        r = run([appstream, "validate", "--no-net", "--pedantic", metainfo])
        if r.returncode != 0 or "Validation was successful." not in text_of(r):
            failures.append("appstreamcli validate: %s" % text_of(r))
        release = ET.parse(metainfo).getroot().find("releases/release")
        if release is None or release.get("version") != args.version:
            failures.append("the metainfo's latest release is not %s" % args.version)
    for size in ICON_SIZES:
        png = os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps/kestrel.png" % (size, size))
        if os.path.isfile(png) and png_size(png) != (size, size):
            failures.append("%s is no %dx%d PNG: %r" % (png, size, size, png_size(png)))


def check_private_library(args, root, program, library, failures):
    """The installed program finds its library in lib/kestrel/ beside bin/, through its
    RUNPATH alone."""
    path = os.path.join(root, "usr/bin", program)
    dynamic = text_of(run([args.readelf, "-d", path]))
    if "Library runpath: [$ORIGIN/../lib/kestrel]" not in dynamic:
        failures.append("installed %s's RUNPATH is not $ORIGIN/../lib/kestrel:\n%s"
                        % (program, dynamic))
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD")}
    # The dynamic loader names the library it would load, and from where.
    traced = text_of(run([path], env=dict(env, LD_TRACE_LOADED_OBJECTS="1")))
    wanted = os.path.join(root, "usr/bin/../lib/kestrel", library)
    if ("%s => %s " % (library, wanted)) not in traced:
        failures.append("installed %s does not load its private library:\n%s"
                        % (program, traced))
    return path, env


def check_cli_runs(args, root, failures):
    cli, env = check_private_library(args, root, "kestrel-cli", "libkestrel-cli.so", failures)
    # It runs, and names the image it carries as the built program does.
    got, want = run([cli, "--version"], env=env), run([args.packed_cli, "--version"])
    if got.returncode != 0 or "\nimage: " not in text_of(got) or got.stdout != want.stdout:
        failures.append("installed kestrel-cli --version ended with %d:\n%s\nbuilt one:\n%s"
                        % (got.returncode, text_of(got), text_of(want)))


def check_window_runs(args, root, tmp, failures):
    window, env = check_private_library(args, root, "kestrel", "libkestrel-ui.so", failures)

    # It starts, on an X display of its own, with a settings store of its own, and Escape
    # closes it with exit code 2.
    config = os.path.join(tmp, "config")
    os.makedirs(os.path.join(config, "Norvald"))
    with open(os.path.join(config, "Norvald", "Kestrel.reg"), "w", newline="") as f:
        f.write(STORE % os.path.join(tmp, "no-such-port"))
    runtime = os.path.join(tmp, "run")
    os.mkdir(runtime, 0o700)
    env.update(XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               XDG_STATE_HOME=os.path.join(tmp, "state"))
    r = subprocess.run([sys.executable, args.drive_window, window], input=b"Escape\n",
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=120)
    if r.returncode != 2:
        failures.append("installed kestrel ended with %s, expected 2 (closed):\n%s"
                        % (r.returncode, text_of(r)))


def check_lintian(debs, failures):
    lintian = tool("lintian", failures)
    if not lintian:
        return
    cmd = [lintian, "--fail-on", "error,warning"]
    if os.geteuid() == 0:
        cmd.append("--allow-root")
    r = run(cmd + debs, timeout=600)
    print("lintian:\n" + (text_of(r) or "(nothing to report)\n"), end="")
    if r.returncode != 0 or re.search(r"^[EW]: ", text_of(r), re.M):
        failures.append("lintian reports errors or warnings (exit %d)" % r.returncode)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--cpack", "--build", "--readelf", "--image-check", "--version", "--source",
                   "--packed-cli", "--drive-window"):
        parser.add_argument(option, required=True)
    parser.add_argument("--packed-window")
    parser.add_argument("--simulator", action="store_true")
    args = parser.parse_args()

    tmp = tempfile.mkdtemp(prefix="kestrel-packages-")
    failures = []
    r = run([args.cpack, "-G", "DEB", "--config", os.path.join(args.build, "CPackConfig.cmake"),
             "-B", os.path.join(tmp, "debs")], timeout=600)
    if r.returncode != 0:
        print(text_of(r))
        failures.append("cpack failed with %d" % r.returncode)
    debs = []
    for name, files in ([] if failures else expected_files(args).items()):
        deb = os.path.join(tmp, "debs", "%s_%s_amd64.deb" % (name, args.version))
        if not os.path.isfile(deb):
            failures.append("cpack made no %s" % os.path.basename(deb))
            continue
        debs.append(deb)
        root = os.path.join(tmp, name)
        r = run(["dpkg-deb", "-x", deb, root])
        if r.returncode != 0:
            failures.append("dpkg-deb -x %s: %s" % (deb, text_of(r)))
            continue
        got = files_under(root)
        if got != files:
            failures.append("%s holds\n  %s\nexpected\n  %s" % (name, "\n  ".join(got),
                                                                "\n  ".join(files)))
        check_control(args, name, deb, failures)
        check_binaries(args, name, root, failures)
        check_man_pages(args, root, failures)
        check_documents(args, name, root, failures)
        if name == "kestrel-cli":
            check_cli_runs(args, root, failures)
        if name == "kestrel":
            check_desktop(args, root, failures)
            check_window_runs(args, root, tmp, failures)
    if debs:
        check_lintian(debs, failures)
    if failures:
        print("FAILED:\n- " + "\n- ".join(failures))
        print("files kept in " + tmp)
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed: %s" % ", ".join(os.path.basename(d) for d in debs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
