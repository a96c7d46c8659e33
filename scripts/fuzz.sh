#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and UBSan into
# build-fuzz/ and runs each for SECONDS (default 30) on a copy of its seed corpus. A broken
# invariant or a sanitizer report stops the run: the input is kept in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets without the fuzz_ prefix)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(settings_store image_reader update_session)

echo "== fuzzing: ${targets[*]}, $seconds s each, under AddressSanitizer + UBSan"
start=$(date +%s)
scripts/install-deps.sh clang libclang-rt-14-dev
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DKESTREL_FUZZ=ON -DKESTREL_BUILD_GUI=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target kestrel_fuzzers

mkdir -p build-fuzz/findings
summary=()
# The store target writes a file on every run: in memory where the machine has /dev/shm.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  rm -rf "$corpus" && mkdir -p "$corpus" && cp tests/fuzz/corpus/"$t"/* "$corpus"/
  log=build-fuzz/findings/$t.log
  echo "== fuzz_$t for $seconds s"
  # stdout closed: the image reader's warnings would only fill the log.
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       build-fuzz/tests/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
         -max_len=4096 -len_control=0 -close_fd_mask=1 -print_final_stats=1 \
         -artifact_prefix=build-fuzz/findings/"$t"- "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$t: FAILED (input kept in build-fuzz/findings/, log in $log)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cover=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  summary+=("fuzz_$t: $runs runs in $seconds s ($rate/s), $cover, corpus $(ls "$corpus" | wc -l) inputs")
  echo "${summary[-1]}"
done
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
echo "Fuzzing part: $(( $(date +%s) - start )) s"
