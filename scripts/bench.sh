#!/usr/bin/env bash
# Builds and runs the benchmark: installs SQLite for the baseline (install-deps.sh bench),
# configures build/release optimised (-O2, no sanitizers) with VELLUM_BENCH=ON, builds
# pagestore_bench and runs it. Arguments go to pagestore_bench (--entries N, --dir DIRECTORY).
#
# Builds take the lock file $VELLUM_BUILD_LOCK (default /tmp/vellum-build.lock), so that builds
# sharing the machine run one after another.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh bench

lock=${VELLUM_BUILD_LOCK:-/tmp/vellum-build.lock}
build=build/release
flock "$lock" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELLUM_SANITIZE=OFF -DVELLUM_BENCH=ON
flock "$lock" cmake --build "$build" --target pagestore_bench
"$build/bench/pagestore_bench" "$@"
