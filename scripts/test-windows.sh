#!/usr/bin/env bash
# The Windows programs: cross-builds them with mingw-w64 into build-win32/ (kestrel.exe and
# kestrel-cli.exe, packed with the demo image, land in build-win32/bin/) and runs their tests
# under wine, on a virtual X display of their own. Installs what is missing with apt-get (root
# or sudo). Arguments go to ctest (for instance -L e2e, or -R WindowTest).
# KESTREL_WIN32_BUILD_DIR and KESTREL_JOBS change the build folder and the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross compiler (-posix: GoogleTest needs threads), GoogleTest's sources (built with it),
# wine to run the tests, and a display with key presses for the window's tests.
scripts/install-deps.sh g++-mingw-w64-x86-64-posix googletest wine64

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
