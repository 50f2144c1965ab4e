#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. As root it runs apt-get; otherwise
# it prints the exact apt-get line to run and fails, so nothing half-configured goes on.
# Usage: scripts/install-deps.sh [fuzz] [bench] [desktop]
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev qt6-base-dev fonts-dejavu-core)

# Optional groups, named as arguments; the default set above is always included.
#   fuzz   clang with libFuzzer and the sanitizer runtimes, llvm-symbolizer (scripts/fuzz.sh)
#   bench  SQLite, the baseline of the benchmark (scripts/bench.sh)
#   desktop  an X server without a screen and the tools that drive it: the viewer's end-to-end
#          check and its screenshot (scripts/viewer-e2e.sh)
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang libclang-rt-14-dev llvm) ;;
    bench) packages+=(libsqlite3-dev) ;;
    desktop) packages+=(xvfb xauth x11-utils xdotool xclip imagemagick) ;;
    *) echo "install-deps.sh: unknown package group '$group' (known: fuzz, bench, desktop)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Run as root:  apt-get update && $line" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
$line
