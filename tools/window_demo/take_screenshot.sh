#!/bin/sh
# Takes docs/window.png: the window under Xvfb after the scripted update of
# kestrel-window-demo has finished. Needs xvfb-run, xdotool and ImageMagick's import.
# Usage: tools/window_demo/take_screenshot.sh <build dir> <output png>
set -eu
build=$1
out=$2
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config xvfb-run -a -s "-screen 0 800x600x24" sh -c '
    "$0" 2>/dev/null &
    demo=$!
    window=$(xdotool search --sync --name "^Kestrel")
    sleep 3
    import -window "$window" "$1"
    kill $demo' "$build/tools/window_demo/kestrel-window-demo" "$out"
