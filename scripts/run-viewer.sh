#!/usr/bin/env bash
# Sets everything up and runs QLMviewer on the bundled sample thesaurus: installs the Debian
# packages, builds the viewer and qlmtool optimised in build/release, imports data/sample into a
# data folder unless it holds the thesaurus already, and starts the viewer there.
# Usage: scripts/run-viewer.sh [DATA_FOLDER]   (default ~/.local/share/QLMviewer/sample)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

lock=${VELLUM_BUILD_LOCK:-/tmp/vellum-build.lock}
build=build/release
flock "$lock" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELLUM_SANITIZE=OFF
flock "$lock" cmake --build "$build" --target QLMviewer qlmtool

data=${1:-${XDG_DATA_HOME:-$HOME/.local/share}/QLMviewer/sample}
if [ ! -f "$data/QLMThes.vlm" ]; then
  echo "Importing the sample thesaurus into $data"
  "$build/tools/qlmtool" import data/sample "$data"
fi
exec "$build/viewer/program/QLMviewer" "$data"
