#!/usr/bin/env bash
# The test command: installs what is missing, configures a sanitizer build, builds everything
# and runs every test under AddressSanitizer and UndefinedBehaviorSanitizer; then builds only the
# concurrency tests under ThreadSanitizer (build/tsan) and runs them; last, the viewer's real window
# is checked end to end on a virtual screen (scripts/viewer-e2e.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/sanitize
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# ThreadSanitizer: a data race or a lock-order inversion fails the run.
tsan=build/tsan
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLUM_TSAN=ON
cmake --build "$tsan" --target threads_test
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:exitcode=66" "$tsan/tests/threads_test"

# The real window on a virtual screen: type, double-click, clipboard, settings file.
scripts/viewer-e2e.sh
