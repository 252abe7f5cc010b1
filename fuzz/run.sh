#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) and runs
# each for a fixed time, starting from the seed corpus in fuzz/corpus/<name>.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     (default: 30 seconds, every target)
#
# Targets: getargs intake msgfile kvdebug cmdfile.  KVQ_FUZZ_BUILD names
# another build directory.  New corpus entries go to
# a scratch directory, never into the tree; a finding is written to
# build/fuzz/artifacts/<target>-crash-... (or leak-, timeout-, oom-) and makes
# the script exit 1 after all targets ran.  The targets' scratch files live
# under /dev/shm when it exists: the command-file targets write a file per
# input, and a busy disk would otherwise set their pace.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(getargs intake msgfile kvdebug cmdfile)

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz/run.sh needs $tool (apt-get install clang)" >&2; exit 1; }
done

build=${KVQ_FUZZ_BUILD:-$root/build/fuzz}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKVQ_FUZZ=ON -DKVQ_TESTS=OFF -DKVQ_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target kvq_fuzz >/dev/null

artifacts=$build/artifacts
mkdir -p "$artifacts"
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/kvq-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Structures that are never destroyed by design are not leaks; nor is the
# container master list that a new start of tracking drops (the product starts
# it once per process, the kvdebug target for every "adt" input).
{ cat "$root/tools/lsan.supp"; echo "leak:vec_set_tracking"; } >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

failed=0
summary=()
for t in "${targets[@]}"; do
  exe=$build/fuzz/fuzz_$t
  [ -x "$exe" ] || { echo "no fuzz target '$t'" >&2; exit 2; }
  mkdir -p "$work/$t/corpus" "$work/$t/tmp"
  log=$work/$t/log
  echo "fuzz_$t: ${seconds}s..." >&2
  set +e
  # -close_fd_mask=3: the product's own diagnostics (alerts, KVDEBUG
  # warnings) are expected output; sanitizer and libFuzzer reports still show.
  # -rss_limit_mb: the message-file target reloads the catalogue per input,
  # and a replaced catalogue cannot always be released in full (it has no
  # release operation), so its memory grows by design; 6 GiB covers a
  # five-minute run.
  TMPDIR=$work/$t/tmp "$exe" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=6144 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
    "$work/$t/corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1
  status=$?
  set -e
  runs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log")
  # The last status line's coverage: "cov: N ft: N corp: N/Nb".
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)
  if [ $status -ne 0 ]; then
    failed=1
    summary+=("$(printf '%-16s FINDING after %s runs (exit %d)' "fuzz_$t" "${runs:-?}" $status)")
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -n 20 >&2 || true
  else
    summary+=("$(printf '%-16s %10s runs in %ss, no finding; %s' "fuzz_$t" "${runs:-?}" "$seconds" "${cov:-no coverage line}")")
  fi
done

echo
printf '%s\n' "${summary[@]}"
exit $failed
