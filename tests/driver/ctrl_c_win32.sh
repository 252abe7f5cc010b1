#!/usr/bin/env bash
# Ctrl-C while kvq.exe waits for its back end, delivered as Wine delivers it:
# SIGINT to the Wine processes reaches console control handlers as
# CTRL_C_EVENT.  kvq must remove its temporary directory before it ends, and
# end with the status of a process ended by Ctrl-C (STATUS_CONTROL_C_EXIT).
# The staged installation's test back end writes a marker file and waits,
# ignoring Ctrl-C, so the interrupt comes while kvq waits for it.
# Usage: ctrl_c_win32.sh WINE-RUN LAUNCH.exe KVQ.exe
set -eu
wine_run=$1 launch=$2 kvq=$3
: "${WINEPREFIX:=${HOME:-/root}/.wine-kvq}" "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG

work=$(mktemp -d)
group=
cleanup() {
  [ -n "$group" ] && kill -KILL -- "-$group" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/temp"
fail() { echo "FAILED: $*"; [ -f "$work/out" ] && sed 's/^/  launch: /' "$work/out"; exit 1; }

# Wine's server and services start here, outside the process group that
# receives the interrupt.
"$wine_run" "$launch" >/dev/null 2>&1 || true
win() { winepath -w "$1" 2>/dev/null; }

# A session of its own: the interrupt reaches the launcher, kvq and the back
# end, and nothing else.
setsid sh -c 'echo $$ >"$0/group"; exec "$@"' "$work" "$wine_run" "$launch" \
  "TEMP=$(win "$work/temp")" "KVQ_TB_PAUSE=$(win "$work/paused")" KVQ_TB_QUIET=1 -- "$kvq" -q x.c \
  >"$work/out" 2>&1 &
launcher=$!
for _ in $(seq 600); do
  [ -f "$work/paused" ] && [ -s "$work/group" ] && break
  sleep 0.1
done
[ -f "$work/paused" ] || fail "the back end did not start"
group=$(cat "$work/group")
[ -n "$(ls -A "$work/temp")" ] || fail "kvq made no temporary directory"

kill -INT -- "-$group"
wait "$launcher" || fail "the launcher failed"
[ -z "$(ls -A "$work/temp")" ] || fail "left behind: $(ls -A "$work/temp")"
tr -d '\r' <"$work/out" | grep -qx 'exit code 0xc000013a' || fail "kvq did not end by Ctrl-C"
echo "kvq ended by Ctrl-C; its temporary directory is gone"
