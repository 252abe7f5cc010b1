#!/usr/bin/env bash
# Builds kvq and runs every check that CI runs:
#   1. the optimised build with warnings as errors, and every test suite
#      (with the layer check, scripts/check-layers.sh, on the built libraries);
#   2. each libFuzzer target for 30 seconds (clang, ASan + UBSan);
#   3. the whole test suite again under AddressSanitizer and UBSan;
#   4. the Windows build (mingw-w64, warnings as errors): every test suite
#      under Wine, the imports of kvq.exe, and the installation zip.
# Usage: scripts/test.sh [--quick | --windows]
#   --quick    step 1 only;  --windows  step 4 only
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-all}

windows_step() {
  echo "== Windows build (mingw-w64), every test suite under Wine"
  # One Wine prefix for every build tree; its daemons are stopped at the end.
  export WINEPREFIX="${WINEPREFIX:-${HOME:-/root}/.wine-kvq}"
  trap 'WINEDEBUG=-all wineserver -k 2>/dev/null || true' EXIT
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(nproc)"
  ctest --preset windows

  local exe=build/windows/driver/kvq.exe imports
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
  echo "kvq.exe imports: $imports"
  if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
    echo "kvq.exe must import KERNEL32.dll and msvcrt.dll only" >&2
    exit 1
  fi
  (cd build/windows && cpack >/dev/null)
  local zip
  zip=$(ls build/windows/package/kvq-*-win64.zip)
  echo "installation zip: $zip"
  cmake -E tar tf "$zip"
}

case $mode in
  --windows)
    scripts/deps.sh --windows
    windows_step
    exit 0 ;;
  --quick) scripts/deps.sh ;;
  *) scripts/deps.sh --windows clang libclang-rt-14-dev ;;
esac

echo "== optimised build, warnings as errors"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci
[ "$mode" = --quick ] && exit 0

echo "== fuzz targets, 30 seconds each"
fuzz/run.sh 30

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan

windows_step
