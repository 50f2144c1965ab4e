#!/usr/bin/env bash
# Builds and runs a benchmark: installs SQLite for the baseline (install-deps.sh bench),
# configures build/release optimised (-O2, no sanitizers) with VELLUM_BENCH=ON, builds the
# benchmark and runs it.
#
#   scripts/bench.sh [args]          pagestore_bench, the page store (--entries N, --dir DIRECTORY)
#   scripts/bench.sh records [args]  records_bench, the record layer on the QLMRelated layout
#                                    (--records N, --lookups N, --dir DIRECTORY, --shared)
#   scripts/bench.sh viewer [args]   viewer_bench, QLMviewer's window on the offscreen platform
#                                    over data/sample and a generated thesaurus (--terms N,
#                                    --dir CACHE (default build/release/bench-data), --reps R)
#
# Builds take the lock file $VELLUM_BUILD_LOCK (default /tmp/vellum-build.lock), so that builds
# sharing the machine run one after another.
set -euo pipefail
cd "$(dirname "$0")/.."

target=pagestore_bench
if [ "${1:-}" = records ]; then
  target=records_bench
  shift
elif [ "${1:-}" = viewer ]; then
  target=viewer_bench
  shift
fi

scripts/install-deps.sh bench

lock=${VELLUM_BUILD_LOCK:-/tmp/vellum-build.lock}
build=build/release
flock "$lock" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELLUM_SANITIZE=OFF -DVELLUM_BENCH=ON
flock "$lock" cmake --build "$build" --target "$target"
"$build/bench/$target" "$@"
