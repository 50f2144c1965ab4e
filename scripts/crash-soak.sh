#!/usr/bin/env bash
# A long crash soak: a writer process commits in a loop and is killed with SIGKILL at a random
# moment, thousands of times; after every kill the file must hold exactly the writer's first
# m commits and settle soundly. The test program does 200 such runs; this runs many more.
#
# Usage: scripts/crash-soak.sh [runs]
#   runs               number of kills (default: $VELLUM_CRASH_RUNS, else 5000)
#   VELLUM_CRASH_SEED  seed of the random delays (default: the current time; printed)
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${1:-${VELLUM_CRASH_RUNS:-5000}}"
seed="${VELLUM_CRASH_SEED:-$(date +%s)}"
build=build/sanitize

# Builds are serialised through a lock file so that a soak started next to other builds does
# not compete with them for the processors.
lock=()
if command -v flock >/dev/null; then lock=(flock /tmp/vellum-build.lock); fi
if [ ! -f "$build/build.ninja" ]; then
    "${lock[@]}" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON
fi
"${lock[@]}" cmake --build "$build" --target commit_test

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "crash soak: $runs runs, seed $seed"
VELLUM_CRASH_RUNS="$runs" VELLUM_CRASH_SEED="$seed" "$build/tests/commit_test" \
    --gtest_filter='CrashProcess.AWriterKilledAtARandomMomentLeavesAPrefixOfItsCommits'
