#!/usr/bin/env bash
# The demo: a whole firmware update against a simulated module on a pseudo-terminal.
#
#   tools/demo/run-demo.sh [BUILD_DIR] [-- SIMULATOR_OPTIONS...]
#
# Builds nothing: BUILD_DIR (default: build/ at the project's root) must hold a Release build
# with the packed programs in bin/. Starts kestrel-modem-sim on a pty linked into a fresh
# temporary folder, gives the window a settings store of its own there (XDG_CONFIG_HOME; yours
# is never read or written) that points at the simulator at 115200, and opens the window:
# press START and watch the update, then close the window. Without a display ($DISPLAY and
# $WAYLAND_DISPLAY unset) or without the window program, kestrel-cli runs the same update in
# the terminal instead. SIMULATOR_OPTIONS change the module, e.g. `-- --rate 57600` (a module
# at another rate: the tool finds it and moves it) or `-- --pace` (bytes at wire speed).
# Needs no root. Exit status: that of the update (0 when it succeeded and the module holds
# exactly the image), 1 otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  build=$1
  shift
fi
[ "${1:-}" = "--" ] && shift
sim_options=("$@")

bin="$build/bin"
sim="$bin/kestrel-modem-sim"
window="$bin/kestrel"
cli="$bin/kestrel-cli"
for program in "$sim" "$cli"; do
  if [ ! -x "$program" ]; then
    echo "run-demo: $program is missing: build first (cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build)" >&2
    exit 1
  fi
done

use_window=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$window" ]; then
  use_window=1
fi
# The simulator expects the image that the program about to run carries.
if [ $use_window = 1 ]; then program="$window"; else program="$cli"; fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-demo.XXXXXX")
tmp=$(cd "$tmp" && pwd -P)
link="$tmp/dev/ttyMODEM"
sim_pid=""
tail_pid=""

cleanup() {
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null || true
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

once=()
[ $use_window = 0 ] && once=(--once)
"$sim" --link "$link" --image "$program" "${once[@]}" "${sim_options[@]}" \
  >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!

for _ in $(seq 100); do
  grep -q "ready at" "$tmp/sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
if ! grep -q "ready at" "$tmp/sim.out" 2>/dev/null; then
  echo "run-demo: the simulator did not start:" >&2
  cat "$tmp/sim.err" >&2
  exit 1
fi
echo "Simulated module on $link ($(sed -n 's/.*(\(.*\))$/\1/p' "$tmp/sim.out" | head -n1))."

# What the module has to say about each update, as it ends.
summary_of() {
  grep -E "update ended|blocks accepted|sha256|result:" "$tmp/sim.out" || true
}

if [ $use_window = 1 ]; then
  config="$tmp/config"
  mkdir -p "$config/Norvald"
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n"COMPort"="%s"\r\n"BaudRate"="115200"\r\n\r\n' \
    "$link" >"$config/Norvald/Kestrel.reg"
  echo "Opening the window with its own settings (port $link, 115200)."
  echo "Press START for the update; close the window when you are done."
  tail -n +2 -f "$tmp/sim.out" &
  tail_pid=$!
  status=0
  XDG_CONFIG_HOME="$config" "$window" || status=$?
  # The window ends with 2 when it is closed.
  [ "$status" -eq 2 ] || { echo "run-demo: the window ended with $status" >&2; exit 1; }
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || sim_status=$?
  sim_pid=""
  sleep 0.2
  exit "${sim_status:-0}"
fi

echo "No display: running the update with kestrel-cli."
echo
status=0
"$cli" --port "$link" --rate 115200 || status=$?
# --once: the simulator ends by itself shortly after the update; wait for its summary.
for _ in $(seq 100); do
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
kill -TERM "$sim_pid" 2>/dev/null || true
sim_status=0
wait "$sim_pid" 2>/dev/null || sim_status=$?
sim_pid=""
echo
echo "The simulated module says:"
summary_of | sed 's/^kestrel-modem-sim: /  /'
[ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ] && exit 0
exit 1
