#!/usr/bin/env bash
# Installs the Debian packages kvq needs to build and test, when missing.
# As root it installs them; otherwise it prints the apt-get line and stops.
# Usage: scripts/deps.sh [--windows] [extra-package ...]
#   --windows  also the Windows cross build: the mingw-w64 compilers, Wine,
#              zlib for mingw-w64 and the GoogleTest sources (without their
#              recommended packages, which only a desktop needs)
# lldb is the debugger of "--kvdebug=debug:"; a test runs its script in it.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev libminizip-dev zlib1g-dev lldb)
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev googletest)

windows=false
if [ "${1:-}" = "--windows" ]; then
  windows=true
  shift
fi
packages+=("$@")

# The packages of the list given that are not installed.
missing_of() {
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "$p"
    fi
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
missing_windows=()
$windows && mapfile -t missing_windows < <(missing_of "${windows_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_windows[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "kvq needs these packages; run as root:" >&2
  [ ${#missing[@]} -eq 0 ] || echo "  apt-get install -y ${missing[*]}" >&2
  [ ${#missing_windows[@]} -eq 0 ] || echo "  apt-get install -y --no-install-recommends ${missing_windows[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]} ${missing_windows[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
[ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#missing_windows[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing_windows[@]}" >/dev/null
