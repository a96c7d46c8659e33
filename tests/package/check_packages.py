#!/usr/bin/env python3
"""Builds the Debian packages with CPack, installs each into a temporary root of its own
(dpkg-deb -x) and checks what a user gets, then runs lintian on them.

  check_packages.py --cpack CPACK --build BUILD --readelf READELF --image-check PROGRAM
                    --version VERSION --source SOURCE_DIR --packed-cli FILE
                    [--packed-window FILE] [--simulator]

--packed-window: the window program is built, so there is a second package; --simulator:
kestrel-modem-sim belongs to the command-line package. Checked: each package's exact file
list and control fields (the command-line tools must not pull in Qt), the images behind the
installed programs, -z now, that kestrel-cli and the window find their private libraries,
that kestrel-cli starts, every option of a program's --help in its manual page, desktop
entry, AppStream metainfo, copyright and changelog, and lintian without any error or warning
(which also fails on unstripped binaries, on man or groff warnings about a page and on an
icon whose size is not its folder's). Exit 0 when everything holds, 1 with the reasons
otherwise.
"""

import argparse
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

ICONS = ["usr/share/icons/hicolor/%dx%d/apps/kestrel.png" % (s, s) for s in
         (16, 32, 48, 64, 128, 256)]
METAINFO = "usr/share/metainfo/com.norvald.kestrel.metainfo.xml"
# Each package: its program, private library and files beyond those and its doc folder's
# copyright and changelog.
PACKAGES = {
    "kestrel-cli": ("kestrel-cli", "libkestrel-cli.so", [
        "usr/bin/kestrel-pack", "usr/share/man/man1/kestrel-cli.1.gz",
        "usr/share/man/man1/kestrel-pack.1.gz"] + ["usr/share/doc/kestrel-cli/" + f for f in (
            "user-guide.md", "window.png", "linux-host.md", "udev/70-kestrel-modem.rules")]),
    "kestrel": ("kestrel", "libkestrel-ui.so", [
        "usr/share/man/man1/kestrel.1.gz", "usr/share/applications/kestrel.desktop", METAINFO,
        "usr/share/icons/hicolor/scalable/apps/kestrel.svg"] + ICONS),
}
SIMULATOR = ["usr/bin/kestrel-modem-sim", "usr/share/man/man1/kestrel-modem-sim.1.gz"]


def run(cmd, timeout=120, **kwargs):
    # (exit code, standard output and error as text)
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                       **kwargs)
    return r.returncode, r.stdout.decode(errors="replace")


def tool(name, failures):
    path = shutil.which(name)
    if not path:
        failures.append("%s is not installed (scripts/install-deps.sh installs it)" % name)
    return path


def files_under(root):
    return sorted(os.path.relpath(os.path.join(folder, n), root)
                  for folder, _, names in os.walk(root) for n in names)


def check_control(args, name, deb, fail):
    fields = {f: run(["dpkg-deb", "-f", deb, f])[1].strip()
              for f in ("Package", "Version", "Depends", "Source")}
    depends = fields.pop("Depends")
    fail(fields == {"Package": name, "Version": args.version, "Source": "kestrel"},
         "%s: control fields %r" % (name, fields))
    # The command-line tools must not pull in Qt; the window needs Qt and its own kestrel-cli.
    fail("qt" not in depends.lower() if name == "kestrel-cli" else
         "kestrel-cli (= %s)" % args.version in depends and "libqt6widgets6" in depends,
         "%s depends on %s" % (name, depends))


def check_binaries(args, name, root, fail):
    packed = {"usr/bin/kestrel-cli": args.packed_cli, "usr/bin/kestrel": args.packed_window}
    for rel in files_under(root):
        path = os.path.join(root, rel)
        with open(path, "rb") as f:
            if f.read(4) != b"\x7fELF":
                continue
        if rel in packed:
            # The image behind the program is whole: nothing stripped it off.
            got, want = run([args.image_check, path]), run([args.image_check, packed[rel]])
            fail(got[0] == 0 and got == want, "image behind %s: %r, built one: %r"
                 % (rel, got, want))
        dynamic = run([args.readelf, "-d", "-W", path])[1]
        fail("BIND_NOW" in dynamic or "Flags: NOW" in dynamic,
             "%s: %s is not linked with -z now" % (name, rel))


def check_man_pages(args, root, fail, failures):
    man = tool("man", failures)
    env = dict(os.environ, LC_ALL="C", MANWIDTH="200")
    for page in glob.glob(os.path.join(root, "usr/share/man/man1/*.1.gz")) if man else []:
        program = os.path.join(root, "usr/bin", os.path.basename(page)[:-len(".1.gz")])
        if os.path.basename(program) == "kestrel":
            continue  # the window has no --help
        # Made from the program's --help: every option it lists is in the page.
        shown = run([man, "-l", page], env=env)[1]
        fail(os.path.realpath(args.build) not in shown,
             "%s's page names the build tree" % os.path.basename(program))
        for option in sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*",
                                            run([program, "--help"])[1]))):
            fail(option in shown, "%s's page lacks %s" % (os.path.basename(program), option))


def check_documents(args, name, root, fail):
    doc = os.path.join(root, "usr/share/doc", name)
    if os.path.isfile(os.path.join(doc, "changelog.gz")):
        with gzip.open(os.path.join(doc, "changelog.gz"), "rt") as f:
            first = f.readline()
        fail(first.startswith("kestrel (%s) " % args.version),
             "%s: the changelog's latest entry is not %s: %r" % (name, args.version, first))
    if os.path.isfile(os.path.join(doc, "copyright")):
        with open(os.path.join(doc, "copyright")) as f, \
                open(os.path.join(args.source, "LICENSE")) as g:
            text = " ".join(f.read().split())
            licence = g.read().split("\n\n")[2:]  # the terms, not the title
        for paragraph in licence:
            fail(" ".join(paragraph.split()) in text, "%s: the copyright file lacks the "
                 "licence's %r" % (name, paragraph.strip()[:40]))


def check_desktop(args, root, fail, failures):
    desktop, metainfo = os.path.join(root, "usr/share/applications/kestrel.desktop"), \
        os.path.join(root, METAINFO)
    validate, appstream = tool("desktop-file-validate", failures), tool("appstreamcli", failures)
    if validate and os.path.isfile(desktop):
        r = run([validate, desktop])
        fail(r == (0, ""), "desktop-file-validate: " + r[1])
    if appstream and os.path.isfile(metainfo):
        r = run([appstream, "validate", "--no-net", "--pedantic", metainfo])
        fail(r[0] == 0 and "Validation was successful." in r[1], "appstreamcli validate: " + r[1])
        release = ET.parse(metainfo).getroot().find("releases/release")
        fail(release is not None and release.get("version") == args.version,
             "the metainfo's latest release is not " + args.version)


def check_program_runs(args, root, program, library, fail):
    """The installed program finds its library in lib/kestrel/ beside bin/, through its
    RUNPATH alone; kestrel-cli starts. (The window's start is e2e.window's.)"""
    path = os.path.join(root, "usr/bin", program)
    dynamic = run([args.readelf, "-d", path])[1]
    fail("Library runpath: [$ORIGIN/../lib/kestrel]" in dynamic,
         "installed %s's RUNPATH is not $ORIGIN/../lib/kestrel:\n%s" % (program, dynamic))
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD")}
    # The dynamic loader names the library it would load, and from where.
    traced = run([path], env=dict(env, LD_TRACE_LOADED_OBJECTS="1"))[1]
    fail("%s => %s " % (library, os.path.join(root, "usr/bin/../lib/kestrel", library)) in traced,
         "installed %s does not load its private library:\n%s" % (program, traced))
    if program == "kestrel-cli":
        # It runs, and names the image it carries as the built program does.
        got, want = run([path, "--version"], env=env), run([args.packed_cli, "--version"])
        fail(got[0] == 0 and "\nimage: " in got[1] and got == want,
             "installed kestrel-cli --version: %r\nbuilt one: %r" % (got, want))


def check_lintian(debs, fail, failures):
    lintian = tool("lintian", failures)
    if lintian:
        cmd = [lintian, "--fail-on", "error,warning"] + (
            ["--allow-root"] if os.geteuid() == 0 else [])
        r = run(cmd + debs, timeout=600)
        print("lintian:\n" + (r[1] or "(nothing to report)\n"), end="")
        fail(r[0] == 0 and not re.search(r"^[EW]: ", r[1], re.M),
             "lintian reports errors or warnings (exit %d)" % r[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--cpack", "--build", "--readelf", "--image-check", "--version", "--source",
                   "--packed-cli"):
        parser.add_argument(option, required=True)
    parser.add_argument("--packed-window")
    parser.add_argument("--simulator", action="store_true")
    args = parser.parse_args()

    tmp, failures, debs = tempfile.mkdtemp(prefix="kestrel-packages-"), [], []

    def fail(ok, message):
        if not ok:
            failures.append(message)
    code, text = run([args.cpack, "-G", "DEB", "--config",
                      os.path.join(args.build, "CPackConfig.cmake"), "-B",
                      os.path.join(tmp, "debs")], timeout=600)
    fail(code == 0, "cpack failed with %d:\n%s" % (code, text))
    for name, (program, library, files) in PACKAGES.items() if code == 0 else ():
        if name == "kestrel" and not args.packed_window:
            continue
        doc = "usr/share/doc/%s/" % name
        files = sorted(files + ["usr/bin/" + program, "usr/lib/kestrel/" + library,
                                doc + "copyright", doc + "changelog.gz"] +
                       (SIMULATOR if args.simulator and name == "kestrel-cli" else []))
        deb, root = os.path.join(tmp, "debs", "%s_%s_amd64.deb" % (name, args.version)), \
            os.path.join(tmp, name)
        if not os.path.isfile(deb) or run(["dpkg-deb", "-x", deb, root])[0] != 0:
            failures.append("cpack made no %s that dpkg-deb -x unpacks" % os.path.basename(deb))
            continue
        debs.append(deb)
        fail(files_under(root) == files, "%s holds\n  %s\nexpected\n  %s"
             % (name, "\n  ".join(files_under(root)), "\n  ".join(files)))
        check_control(args, name, deb, fail)
        check_binaries(args, name, root, fail)
        check_man_pages(args, root, fail, failures)
        check_documents(args, name, root, fail)
        check_program_runs(args, root, program, library, fail)
        if name == "kestrel":
            check_desktop(args, root, fail, failures)
    if debs:
        check_lintian(debs, fail, failures)
    if failures:
        print("FAILED:\n- " + "\n- ".join(failures) + "\nfiles kept in " + tmp)
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed: %s" % ", ".join(os.path.basename(d) for d in debs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
