#!/usr/bin/env bash
# Builds the release configuration and runs the staged kvq, as a build tool
# would, on a realistic command line with an "@" command file.  The back end
# in the staged installation is the test back end: it prints what it received.
# Usage: scripts/main-job.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null

stage=$(ls -d "$PWD"/build/release/stage/kvq/*/tor/bin | head -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/project.opts" <<'OPTS'
-I"include dir/board"
--opt=+speed
-Wno-error=1501
OPTS

cd "$work"
echo "\$ kvq --chip=18F4550 -v --std=c99 main.c -DNDEBUG=1 @project.opts"
set +e
"$stage/kvq" --chip=18F4550 -v --std=c99 main.c -DNDEBUG=1 @project.opts
status=$?
set -e
echo "kvq exit status: $status"
exit $status
