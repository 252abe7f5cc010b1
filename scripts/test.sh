#!/usr/bin/env bash
# Builds kvq and runs every check that CI runs:
#   1. the optimised build with warnings as errors, and every test suite
#      (with the layer check, scripts/check-layers.sh, on the built libraries);
#   2. each libFuzzer target for 30 seconds (clang, ASan + UBSan);
#   3. the whole test suite again under AddressSanitizer and UBSan.
# Usage: scripts/test.sh [--quick]     (--quick: step 1 only)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true

if $quick; then
  scripts/deps.sh
else
  scripts/deps.sh clang libclang-rt-14-dev
fi

echo "== optimised build, warnings as errors"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci
$quick && exit 0

echo "== fuzz targets, 30 seconds each"
fuzz/run.sh 30

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan
