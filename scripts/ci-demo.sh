#!/usr/bin/env bash
# CI: the README's main command, scripts/demo.sh, both ways, so that it cannot break unseen:
#   1. without a display: kestrel-cli runs the update in the terminal;
#   2. under Xvfb (xvfb-run -a, as a user with a display would see it): the window opens, Enter
#      presses START (a real key press, through xdotool), and once the simulated module has
#      reported the update's end, Escape closes the window.
# Each run must end with exit status 0 and the simulator's summary saying that the records the
# module took equal the image. Every wait is bounded, so a hang fails the run instead of
# stalling CI; on failure the run's output is shown.
#
#   scripts/ci-demo.sh     (builds into build/ through scripts/demo.sh, like the README's command)
set -euo pipefail
cd "$(dirname "$0")/.."

# How long each step may take, in seconds. The build is usually done by then (CI runs the
# tests first); the update itself takes a few seconds.
build_s=900
window_s=30
update_s=300
close_s=30
summary="result: the accepted records equal the image"

show_log=1
fail() {
  echo "ci-demo: $*" >&2
  if [ "$show_log" = 1 ] && [ -n "${log:-}" ] && [ -f "$log" ]; then
    echo "---- output of scripts/demo.sh" >&2
    cat "$log" >&2
    echo "----" >&2
  fi
  exit 1
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds (0) or the time is up
# (1); gives up at once (2) when the demo has ended meanwhile.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    kill -0 "$demo_pid" 2>/dev/null || return 2
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# The window's id, once it is shown.
window_id() {
  wid=$(xdotool search --onlyvisible --name '^Kestrel' 2>/dev/null | head -n1)
  [ -n "$wid" ]
}

# Run 2, under the display xvfb-run made for it.
with_display() {
  log=$1
  scripts/demo.sh >"$log" 2>&1 &
  demo_pid=$!
  trap 'kill "$demo_pid" 2>/dev/null || true' EXIT

  wait_for "$build_s" grep -q "Opening the window" "$log" ||
    fail "the demo opened no window (it builds the window where there is a display)"
  wait_for "$window_s" window_id || fail "no window shown within ${window_s} s"
  timeout 10 xdotool windowfocus --sync "$wid" || fail "the window did not take the focus"
  xdotool key Return  # START has the focus, and is the default button
  wait_for "$update_s" grep -q "$summary" "$log" ||
    fail "the simulated module reported no whole update within ${update_s} s of START"
  timeout 10 xdotool windowfocus --sync "$wid" || fail "the window did not take the focus again"
  xdotool key Escape  # closes it
  local status=0 deadline=$((SECONDS + close_s))
  while kill -0 "$demo_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the demo did not end within ${close_s} s of closing"
    sleep 0.2
  done
  wait "$demo_pid" || status=$?
  trap - EXIT
  [ "$status" -eq 0 ] || fail "the demo with the window ended with exit status $status"
}

if [ "${1:-}" = "--with-display" ]; then
  with_display "$2"
  exit 0
fi

scripts/install-deps.sh
log=$(mktemp "${TMPDIR:-/tmp}/kestrel-ci-demo.XXXXXX")
trap 'rm -f "$log"' EXIT

echo "== scripts/demo.sh without a display"
start=$SECONDS
status=0
timeout "$((build_s + update_s))" env -u DISPLAY -u WAYLAND_DISPLAY scripts/demo.sh \
  >"$log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the demo without a display ended with exit status $status"
grep -q "No display: running the update with kestrel-cli" "$log" ||
  fail "the demo without a display did not run kestrel-cli"
grep -q "$summary" "$log" || fail "the simulated module did not take the whole image"
echo "passed in $((SECONDS - start)) s"

echo "== xvfb-run -a scripts/demo.sh: the window, START by Enter, closed by Escape"
start=$SECONDS
status=0
timeout "$((build_s + window_s + update_s + close_s + 60))" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$PWD/scripts/ci-demo.sh" --with-display "$log" ||
  status=$?
show_log=$((status == 1 ? 0 : 1))  # on 1 the run under Xvfb has shown the output itself
[ "$status" -eq 0 ] || fail "the demo under Xvfb failed (exit status $status)"
grep -q "Opening the window" "$log" || fail "the demo under Xvfb did not open the window"
echo "passed in $((SECONDS - start)) s"
