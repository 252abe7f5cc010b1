#!/usr/bin/env bash
# scripts/check-layers.sh against planted faults: an upward include, an
# include of a module above in the same layer, an upward call that no include
# shows, an object in the wrong library; and a downward call, which passes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/scripts/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# expect STATUS TEXT ARGS...: the check exits with STATUS and says TEXT.
expect() {
  local status=$1 text=$2 got=0
  shift 2
  "$check" "$@" > "$work/said" 2>&1 || got=$?
  if [ "$got" -ne "$status" ] || ! grep -qF -- "$text" "$work/said"; then
    echo "FAIL: check-layers $* exited $got, wanted $status with: $text" >&2
    sed 's/^/  | /' "$work/said" >&2
    failed=1
  fi
}

# Includes, on a copy of the sources.
cp -r "$root/common" "$root/debug" "$root/driver" "$work/"
expect 0 "includes run downhill" --source "$work"
cp "$work/common/vector.cpp" "$work/vector.cpp"
echo '#include "alert.h"' >> "$work/common/vector.cpp"
expect 1 'common/vector.cpp (foundation) includes "alert.h", in the higher diag layer' --source "$work"
cp "$work/vector.cpp" "$work/common/vector.cpp"
echo '#include "tally_table.h"' >> "$work/common/hash.cpp"
expect 1 'common/hash.cpp (foundation) includes "tally_table.h", above it in the foundation layer' --source "$work"
rm -r "$work/common" "$work/debug" "$work/driver"

# Symbols, on a made-up build tree: object NAME in library LIB with CODE.
object() {
  mkdir -p "$work/build/$1"
  echo "$3" | c++ -x c++ -c - -o "$work/build/$1/$2.cpp.o"
  ar rc "$work/build/libkvq_$1.a" "$work/build/$1/$2.cpp.o"
}
mkdir -p "$work/build"
for lib in trace platform foundation install diag debug driver; do ar rc "$work/build/libkvq_$lib.a"; done
object trace trace 'void db_warning() {}'
object diag alert 'void db_warning(); void alert() { db_warning(); }'
expect 0 "includes and symbols run downhill" "$work/build"
object trace trace 'void alert(); void db_warning() { alert(); }'
expect 1 "trace (trace) uses alert() of alert (diag)" "$work/build"
object trace trace 'void db_warning() {}'
object trace vector 'void vec_new() {}'
expect 1 "vector.cpp.o is in kvq_trace, the table has it in kvq_foundation" "$work/build"

exit $failed
