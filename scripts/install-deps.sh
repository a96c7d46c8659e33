#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kestrel need, plus any named as
# arguments, skipping those that are already there. Needs root (or sudo) only when something is
# missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config        # the build
  libgtest-dev                     # unit tests
  qt6-base-dev                     # the window
  binutils-mingw-w64-x86-64        # windres: the Windows resource script compiled and read back
  xvfb xauth xdotool               # the window under a virtual display, with real key presses
  python3                          # the end-to-end driver
  libsystemd-dev                   # ModemManager asked to leave the port alone (sd-bus)
  dbus-daemon python3-dbusmock     # ... and mocked on a private bus in the end-to-end tests
  libqt6svg6                       # the large icons, drawn from packaging/kestrel.svg
  help2man gzip                    # manual pages, from the programs' --help
  dpkg-dev file                    # the Debian packages' dependencies (dpkg-shlibdeps)
  lintian appstream desktop-file-utils man-db   # the package test's checks
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Root is needed to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
