#!/usr/bin/env bash
# Installs the Debian packages kvq needs to build and test, when missing.
# As root it installs them; otherwise it prints the apt-get line and stops.
# Usage: scripts/deps.sh [extra-package ...]
# lldb is the debugger of "--kvdebug=debug:"; a test runs its script in it.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev libminizip-dev zlib1g-dev lldb "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "kvq needs these packages; run as root:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
