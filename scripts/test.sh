#!/usr/bin/env bash
# The one command that sets up and passes the tests: installs what is missing, builds the
# Release configuration (the packed programs) and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
cd build
ctest --output-on-failure -j"$jobs"
