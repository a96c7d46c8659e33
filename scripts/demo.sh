#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds the Release programs and runs a
# whole firmware update against a simulated module (the window where there is a display,
# kestrel-cli in the terminal otherwise). Options after `--` go to the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(kestrel-cli_packed kestrel-modem-sim)
# The window exists only in builds with Qt. The whole target list is read first: a `grep -q`
# on the pipe would leave early, make would die of the broken pipe, and pipefail would hide the
# window from a machine that has a display.
help=$(cmake --build build --target help)
if grep -q kestrel_packed <<<"$help"; then targets+=(kestrel_packed); fi
cmake --build build -j"$jobs" --target "${targets[@]}"
exec tools/demo/run-demo.sh build "$@"
