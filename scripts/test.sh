#!/usr/bin/env bash
# Builds kvq with warnings as errors and runs every test suite through CTest.
# Usage: scripts/test.sh        (from anywhere inside the checkout)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci
