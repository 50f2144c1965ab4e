#!/usr/bin/env bash
# End-to-end check of the real QLMviewer window on a virtual X screen (Xvfb): imports the sample
# thesaurus into a fresh data folder, starts the viewer with a settings folder of its own, types
# a letter in the terms list, double-clicks a row and reads the clipboard, moves the window and
# closes it with its Close button, checks that "QLMviewer.INI" holds the window's place,
# then starts the viewer again and checks that it opens at that place.
# Usage: scripts/viewer-e2e.sh [--screenshot FILE]   (saves a picture of the window on the way)
set -euo pipefail
cd "$(dirname "$0")/.."

shot=
if [ "${1:-}" = --screenshot ]; then
  shot=$(realpath -m "${2:?--screenshot needs a file name}")
fi

scripts/install-deps.sh desktop

lock=${VELLUM_BUILD_LOCK:-/tmp/vellum-build.lock}
build=build/release
flock "$lock" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELLUM_SANITIZE=OFF >/dev/null
flock "$lock" cmake --build "$build" --target QLMviewer qlmtool >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "viewer-e2e: $*" >&2; exit 1; }

"$build/tools/qlmtool" import data/sample "$work/data" >/dev/null
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
ini=$XDG_CONFIG_HOME/QLMviewer.INI

# A free display number.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

title="Vellum project - example.org"
start_viewer() {
  "$build/viewer/program/QLMviewer" "$work/data" >"$work/viewer.log" 2>&1 &
  viewer=$!
  pids+=("$viewer")
  window=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" | head -1) ||
    fail "the window did not appear"
  sleep 0.5
}
place() { xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p'; }
# Clicks the Close button: its middle lies at 389.5, 258 of the window's 420 by 269 dialog units.
close_viewer() {
  read -r width height < <(xdotool getwindowgeometry "$window" |
    sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
  xdotool mousemove --window "$window" $((width * 779 / 840)) $((height * 258 / 269)) click 1
  for _ in $(seq 100); do kill -0 "$viewer" 2>/dev/null || return 0; sleep 0.1; done
  fail "the window did not close"
}

# First run: no settings file yet.
[ ! -e "$ini" ] || fail "a settings file exists before the first run"
start_viewer
xdotool windowfocus --sync "$window" 2>/dev/null || true
# Select the first row, type b: the list jumps to the first term that begins with B.
xdotool mousemove --window "$window" 100 93 click 1
sleep 0.3
xdotool key --window "$window" b
sleep 0.5
# Double-click the second row and read the clipboard: a term beginning with B, no trailing blank.
xdotool mousemove --window "$window" 100 110 click --repeat 2 --delay 80 1
sleep 0.5
copied=$(xclip -o -selection clipboard)
case "$copied" in
  [Bb]*[!\ ]) echo "viewer-e2e: copied \"$copied\"" ;;
  *) fail "the clipboard holds \"$copied\", not a term beginning with B" ;;
esac
[ -z "$shot" ] || { mkdir -p "$(dirname "$shot")"; import -window "$window" "$shot"; echo "viewer-e2e: screenshot $shot"; }

# Move the window, close it: the settings file holds the place.
xdotool windowmove --sync "$window" 120 80
sleep 0.3
close_viewer
grep -qx 'Maximize=No' "$ini" || fail "no Maximize=No in $ini"
grep -qx 'Minimize=No' "$ini" || fail "no Minimize=No in $ini"
grep -qx 'XPos=120' "$ini" || fail "no XPos=120 in $ini"
grep -qx 'YPos=80' "$ini" || fail "no YPos=80 in $ini"

# Second run: the window opens at the stored place.
start_viewer
[ "$(place)" = "120 80" ] || fail "the second run opened at $(place), not at 120 80"
close_viewer
echo "viewer-e2e: passed"
