#!/bin/sh
# Builds what the benchmarks need and runs them; see bench/run_benchmarks.py for what each
# measures. Usage: bench/run-benchmarks.sh [BUILD_DIR] [OPTIONS...]
#   BUILD_DIR  a Release build (programs packed with the image); default build/
#   OPTIONS    passed on: --reps N, --paced-reps N, --modules-reps N, --modules N ...,
#              --modules-road blind|negotiated, --only transfer|paced|wait|reader|modules ...
# Takes about twenty minutes with the defaults (the several-modules part about nine). Other
# load on the machine shows in the figures: run it on a quiet machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
case "${1:-}" in
  ""|-*) ;;
  *) build=$1; shift ;;
esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "run-benchmarks: $build is no CMake build (configure it with -DCMAKE_BUILD_TYPE=Release)" >&2
  exit 2
fi
cmake --build "$build" --target kestrel_bench_programs -j2 >/dev/null
exec python3 "$here/run_benchmarks.py" --build "$build" "$@"
