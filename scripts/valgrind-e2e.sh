#!/usr/bin/env bash
# Runs the end-to-end tests (kvq started as a child process: the KvqRun and
# HostileInputs suites) with every kvq process under valgrind memcheck, and
# fails when any of them made an invalid read or write, used an uninitialised
# value, freed wrongly or lost memory (definitely or possibly).
#
#   scripts/valgrind-e2e.sh [GTEST_FILTER]
#
# The logs also list the blocks still reachable at exit, except those that
# tools/valgrind.supp names as kept to the end of the run on purpose (cached
# strings, the catalogue, hash tables, master-list records, ...), so that
# anything else held at the end stands out.  A run that a fatal alert or a
# signal ends holds its in-flight lists too; only lost blocks are errors.  The test back end is not traced (it is not part
# of the product).  Logs: build/valgrind/logs/vg.<pid>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Under valgrind a back end that cannot be started is seen as one that exits
# with 127 (valgrind starts the child itself, so the start cannot fail), so
# the tests that expect "exec failed" are left out by default, and so are the
# 64 kvq processes appending to one error file at once (too slow there) and
# the tests of the process's own resources, which valgrind changes: the
# descriptors a back end inherits (valgrind's own reach it), descriptor and
# memory limits (valgrind needs more of both) and a run as another user
# (who may not write valgrind's logs).
skip=KvqRun.ExitStatusFollowsTheBackEnd:KvqRun.ConcurrentRunsAppendingToOneErrorFileKeepEveryLine
skip=$skip:KvqRun.UnusualParentsAndStandardStreams:KvqRun.StandardStreamsAndPrivateDescriptors
skip=$skip:KvqRun.OutOfMemoryIsAlert296WithNothingLeft:KvqRun.PermissionsBindAnUnprivilegedUser
filter=${1:-"KvqRun.*:HostileInputs.*-$skip"}

command -v valgrind >/dev/null || {
  [ "$(id -u)" -eq 0 ] || { echo "needs valgrind: apt-get install valgrind" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
}

build=${KVQ_VALGRIND_BUILD:-$root/build/valgrind}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j 2 --target kvq_driver_tests >/dev/null

logs=$build/logs
rm -rf "$logs"
mkdir -p "$logs"
set +e
KVQ_TEST_UNTIMED=1 valgrind --tool=memcheck --trace-children=yes \
  --trace-children-skip='*/torc,*/torc18,*/torcd,*/torc18d,*/kvq_test_backend' \
  --leak-check=full --errors-for-leak-kinds=definite,possible --show-leak-kinds=all \
  --suppressions="$root/tools/valgrind.supp" --num-callers=30 \
  --log-file="$logs/vg.%p.log" \
  "$build/tests/kvq_driver_tests" --gtest_filter="$filter"
tests=$?
set -e

# A log per traced process; the kvq ones name the driver's own sources.
checked=0
bad=()
for log in "$logs"/vg.*.log; do
  grep -q 'Command: .*/kvq\b' "$log" || continue
  checked=$((checked + 1))
  errors=$(awk '/ERROR SUMMARY:/ {n = $4} END {print n + 0}' "$log")
  [ "$errors" -eq 0 ] || bad+=("$log ($errors errors)")
done

echo
echo "kvq processes checked under memcheck: $checked"
if [ ${#bad[@]} -gt 0 ]; then
  printf 'memcheck errors in %s\n' "${bad[@]}"
  exit 1
fi
[ $tests -eq 0 ] || { echo "the tests themselves failed under valgrind (exit $tests)"; exit 1; }
[ $checked -gt 0 ] || { echo "no kvq process was traced"; exit 1; }
echo "no invalid reads or writes, no uninitialised values, no lost memory"
