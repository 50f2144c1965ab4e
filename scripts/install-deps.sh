#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. As root it runs apt-get; otherwise
# it prints the exact apt-get line to run and fails, so nothing half-configured goes on.
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev)

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
