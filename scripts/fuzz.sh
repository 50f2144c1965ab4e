#!/usr/bin/env bash
# Fuzzes the opening and walking of table files for a given number of seconds: installs clang
# with libFuzzer (install-deps.sh fuzz), builds build/fuzz, writes the seed files and runs
# fuzz_open_and_walk on its corpus. An input that crashes, hangs, leaks or runs out of memory is
# copied into tests/fuzz/corpus-regressions/ (where fuzz_regression_test replays it) and the
# script fails.
#
# Usage: scripts/fuzz.sh SECONDS
# Builds take the lock file $VELLUM_BUILD_LOCK (default /tmp/vellum-build.lock), so that builds
# sharing the machine run one after another.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh SECONDS" >&2
  exit 2
fi

scripts/install-deps.sh fuzz

lock=${VELLUM_BUILD_LOCK:-/tmp/vellum-build.lock}
build=build/fuzz
flock "$lock" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DVELLUM_FUZZ=ON -DVELLUM_SANITIZE=OFF
flock "$lock" cmake --build "$build" --target fuzz_open_and_walk write_seeds

corpus=$build/corpus        # grows from run to run
seeds=$build/seeds          # rewritten each run from the engine
artifacts=$build/artifacts  # what libFuzzer writes on a finding
log=$build/fuzz.log
mkdir -p "$corpus" "$seeds" "$artifacts"
rm -f "$artifacts"/*
"$build/tests/fuzz/write_seeds" "$seeds" >/dev/null

regressions=tests/fuzz/corpus-regressions
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
set +e
"$build/tests/fuzz/fuzz_open_and_walk" \
  -max_total_time="$seconds" -timeout=25 -max_len=32768 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" \
  "$corpus" "$seeds" tests/fuzz/seeds "$regressions" >"$log" 2>&1
status=$?
set -e

# The last status line carries the coverage; the final statistics the executions.
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
echo "fuzz_open_and_walk: ${executions:-?} executions in up to $seconds s (${rate:-?}/s)"
echo "last status: ${last:-none}"
echo "log: $log"

found=()
for artifact in "$artifacts"/*; do
  [ -e "$artifact" ] || continue
  name=$(basename "$artifact")
  case "$name" in
    slow-unit-*) echo "slow input (not a failure): $artifact" ;;
    *)
      cp "$artifact" "$regressions/$name"
      found+=("$regressions/$name")
      ;;
  esac
done

if [ "$status" -ne 0 ] || [ ${#found[@]} -ne 0 ]; then
  echo "FINDING: the fuzzer stopped with status $status." >&2
  grep -E '^(==[0-9]+==ERROR|SUMMARY|open-and-walk contract violated)' "$log" | head -n 5 >&2 || true
  for input in "${found[@]}"; do
    echo "  saved the input as $input" >&2
    echo "  reproduce: $build/tests/fuzz/fuzz_open_and_walk $input" >&2
  done
  echo "Fix the engine, keep the saved input as a regression case, and run again." >&2
  exit 1
fi
echo "no finding"
