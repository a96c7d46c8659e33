#!/usr/bin/env bash
# The Windows programs: cross-builds them with mingw-w64 into build-win32/ (kestrel.exe and
# kestrel-cli.exe, packed with the demo image, land in build-win32/bin/) and runs their tests
# under wine, on a virtual X display of their own. Installs what is missing with apt-get (root
# or sudo). Arguments go to ctest (for instance -L e2e, or -R WindowTest).
# KESTREL_WIN32_BUILD_DIR and KESTREL_JOBS change the build folder and the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake g++ make python3             # the build and the test drivers (the host tools too)
  g++-mingw-w64-x86-64-posix         # the cross compiler (-posix: GoogleTest needs threads)
  googletest                         # GoogleTest's sources, built with the cross compiler
  wine64                             # runs the tests
  xvfb xauth xdotool                 # the window's tests: a display, and keys pressed on it
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${KESTREL_WIN32_BUILD_DIR:-build-win32}
jobs=${KESTREL_JOBS:-$(nproc 2>/dev/null || echo 2)}
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
wineserver=$(command -v wineserver64 || command -v wineserver || echo /usr/lib/wine/wineserver64)
# The prefix's wine server and services stay up between test programs; stop them at the end.
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# Everything wine starts must see the same display: the services (among them the desktop
# window) are started once, first, with the display already there.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -s "$build" "$jobs" "$@" <<'INNER'
set -euo pipefail
build=$1 jobs=$2
shift 2
mkdir -p "$build"
# The prefix and wine's services first, their standard streams closed (cmake/wine-run.sh):
# started from a test, they would keep CTest's pipes open until they exit.
cmake/wine-run.sh "$WINEPREFIX" cmd /c exit
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DKESTREL_BUILD_GUI=OFF
cmake --build "$build" -j"$jobs"
cd "$build"
ctest --output-on-failure -j"$jobs" "$@"
INNER
