#!/usr/bin/env bash
# Builds kvq and runs the staged kvq, as a build tool would, on a realistic
# command line with an "@" command file.  The back end in the staged
# installation is the test back end: it prints what it received.
# Usage: scripts/main-job.sh [--windows]
#   (default)  the release configuration, on Linux
#   --windows  the Windows build, kvq.exe and its back end run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

run=()
if [ "${1:-}" = "--windows" ]; then
  scripts/deps.sh --windows
  export WINEPREFIX="${WINEPREFIX:-${HOME:-/root}/.wine-kvq}"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(nproc)" --target kvq_stage >/dev/null
  stage=$(ls -d "$PWD"/build/windows/stage/kvq/*/tor/bin | head -n 1)
  run=("$PWD/cmake/wine-run.sh" "$stage/kvq.exe")
else
  scripts/deps.sh
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc)" >/dev/null
  stage=$(ls -d "$PWD"/build/release/stage/kvq/*/tor/bin | head -n 1)
  run=("$stage/kvq")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"; [ -z "${WINEPREFIX:-}" ] || WINEDEBUG=-all wineserver -k 2>/dev/null || true' EXIT
cat > "$work/project.opts" <<'OPTS'
-I"include dir/board"
--opt=+speed
-Wno-error=1501
OPTS

cd "$work"
echo "\$ kvq --chip=18F4550 -v --std=c99 main.c -DNDEBUG=1 @project.opts"
set +e
"${run[@]}" --chip=18F4550 -v --std=c99 main.c -DNDEBUG=1 @project.opts
status=$?
set -e
echo "kvq exit status: $status"
exit $status
