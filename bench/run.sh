#!/usr/bin/env bash
# Measures kvq against the physical floor of its job and against peer drivers,
# and prints one table of medians, ratios, peak RSS and the targets.
#
#   bench/run.sh            (RUNS=n for more than 30 runs per row)
#
# Builds what it needs: kvq from the `release` preset (static; KVQ_BENCH_KVQ
# names another kvq binary), the floor programs of bench/floor with
# `cc -O2 -static`.  Everything runs from a
# scratch installation <tmp>/R/V/tor/bin holding kvq, the floors and the
# static no-op program as the back end "torc"; TEMP points to a scratch
# directory on the same disk.  Ratios, not absolute times, are what compare
# across machines: all rows of one table run in the same invocation.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
RUNS=${RUNS:-30}
[ "$RUNS" -ge 30 ] || { echo "RUNS must be at least 30" >&2; exit 2; }

# ---- tools ---------------------------------------------------------------
need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
command -v cc >/dev/null || need+=(gcc)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench needs: apt-get install ${need[*]}" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

# ---- build -----------------------------------------------------------------
# KVQ_BENCH_KVQ=path measures an already built kvq instead of the preset's.
kvq_bin=${KVQ_BENCH_KVQ:-}
if [ -z "$kvq_bin" ]; then
  echo "building kvq (release preset)..." >&2
  cmake --preset release >/dev/null
  cmake --build --preset release --target kvq -j 2 >/dev/null
  kvq_bin=$root/build/release/driver/kvq
fi

scratch=$(mktemp -d /tmp/kvq-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
bin=$scratch/R/V/tor/bin
mkdir -p "$bin" "$scratch/R/V/tor/dat" "$scratch/tmp" "$scratch/work"
cp "$kvq_bin" "$bin/kvq"
for f in noop floor_invoke floor_intake; do
  cc -O2 -static -o "$bin/$f" "bench/floor/$f.c"
done
c++ -O2 -x c++ -o "$bin/floor_invoke_cxx" bench/floor/floor_invoke.c
cp "$bin/noop" "$bin/torc"
# The build and the copies above leave dirty pages; writing them back while
# the first rows run would show up as noise in the per-invocation figures.
sync
export TEMP=$scratch/tmp
cd "$scratch/work"
echo 'int main(void) { return 0; }' > x.c

# ---- measuring helpers -------------------------------------------------------
csv=$scratch/hf.csv
declare -A MED CPU RSS

# bench RUNS LABEL=COMMAND ...: one hyperfine run over all commands; the
# median wall time (ms) lands in MED[LABEL], the mean CPU time (user +
# system, ms) in CPU[LABEL].  Commands hold no commas (CSV export).
bench() {
  local runs=$1; shift
  local labels=() cmds=()
  for pair in "$@"; do labels+=("${pair%%=*}"); cmds+=("${pair#*=}"); done
  hyperfine -N --style none --warmup 3 --runs "$runs" --export-csv "$csv" "${cmds[@]}" >/dev/null 2>&1
  local i=1
  for label in "${labels[@]}"; do
    MED[$label]=$(csv_ms $i median)
    CPU[$label]=$(awk -v u="$(csv_ms $i user)" -v s="$(csv_ms $i system)" 'BEGIN{ printf "%.2f", u + s }')
    i=$((i + 1))
  done
}

# csv_ms ROW COLUMN: a column of the ROW-th benchmark of the last export, in ms.
csv_ms() {
  awk -F, -v row="$1" -v col="$2" 'NR==1{for(c=1;c<=NF;c++) if($c==col) m=c; next}
                                   NR==row+1{printf "%.2f", $m*1000}' "$csv"
}

# rss LABEL COMMAND...: the peak resident set (KiB) over five runs.
rss() {
  local label=$1; shift
  local peak=0 kb
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null 2>&1 || true
    kb=$(tail -n 1 "$scratch/rss")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  RSS[$label]=$peak
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# verdict VALUE OP LIMIT: "holds" or "FAILS" for VALUE <= LIMIT (OP le) or >= (OP ge).
verdict() {
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN{ ok = (op == "le") ? v <= l : v >= l; print ok ? "holds" : "FAILS" }'
}
row() { printf '  %-34s %10s %9s %10s   %s\n' "$@"; }

# ---- 1. per invocation ---------------------------------------------------------
opts20=(-v --chip=16F877A --std=c99 -Iinclude -Isrc/board -DNDEBUG=1 -DBOARD=3 --opt=+speed
        -Wno-error=1501 --warn=0 -O2 --asmlist --output=+elf --summary=-psect -g
        --codeoffset=0 --stack=compiled --addrqual=ignore -fshort-double main.c)
peers=()
command -v gcc >/dev/null && peers+=("gcc=gcc -### -c x.c")
command -v clang >/dev/null && peers+=("clang=clang -### -c x.c")
echo "1/4 per-invocation cost..." >&2
bench "$RUNS" "floor=$bin/floor_invoke ${opts20[*]}" "floor_cxx=$bin/floor_invoke_cxx ${opts20[*]}" \
  "kvq=$bin/kvq ${opts20[*]}" "${peers[@]}"
rss floor "$bin/floor_invoke" "${opts20[@]}"
rss kvq "$bin/kvq" "${opts20[@]}"

# ---- 2. intake at scale ------------------------------------------------------------
sizes=(1000 10000 100000 1000000)
for n in "${sizes[@]}"; do
  awk -v n="$n" 'BEGIN{ for (i = 0; i < n; i++) printf "-Dbench_option_%07d=1\n", i }' > "opts$n"
done
echo "2/4 intake of @ files..." >&2
declare -A NOTE
for n in "${sizes[@]}"; do
  # One probe run first: a size whose single run takes longer than
  # SLOW_RUN seconds is reported from that run alone (30 runs of a
  # quadratic intake would take hours), marked in the table.
  /usr/bin/time -f '%e %M' -o "$scratch/probe" "$bin/kvq" -q "@opts$n" >/dev/null 2>&1 || true
  read -r secs kb < "$scratch/probe"
  if awk -v s="$secs" -v l="${SLOW_RUN:-10}" 'BEGIN{ exit !(s > l) }'; then
    bench "$RUNS" "floor$n=$bin/floor_intake @opts$n"
    MED[kvq$n]=$(awk -v s="$secs" 'BEGIN{ printf "%.2f", s * 1000 }')
    RSS[kvq$n]=$kb
    NOTE[$n]="(kvq: one run only)"
  else
    bench "$RUNS" "floor$n=$bin/floor_intake @opts$n" "kvq$n=$bin/kvq -q @opts$n"
    rss "kvq$n" "$bin/kvq" -q "@opts$n"
  fi
done
echo "3/4 peer intake at 100k..." >&2
ipeers=()
command -v gcc >/dev/null && ipeers+=("gcc100000=gcc @opts100000 -dumpversion")
command -v clang >/dev/null && ipeers+=("clang100000=clang @opts100000 -dumpversion")
[ ${#ipeers[@]} -gt 0 ] && bench "$RUNS" "${ipeers[@]}"

# ---- 3. catalogue load -----------------------------------------------------------------
# "-Werror=" raises alert 1606 (an error that does not stop the run), the
# first numbered alert and so the catalogue load; "-Werror=1" raises none.
echo "4/4 catalogue load..." >&2
bench $((RUNS * 3)) "quiet=$bin/kvq -q -Werror=1" "alert=$bin/kvq -q -Werror="

leftover=$(find "$TEMP" -mindepth 1 | wc -l)

# ---- table ---------------------------------------------------------------------------------
echo
echo "kvq benchmarks: medians of $RUNS runs (catalogue rows $((RUNS * 3))), $(nproc) cores, $(date -u +%F)"
echo
echo "Per invocation: 20 ordinary options, back end = static no-op"
row "" "median ms" "x floor" "peak KiB" ""
row "floor (static C)" "${MED[floor]}" "1.00" "${RSS[floor]}" ""
row "floor (dynamic C++)" "${MED[floor_cxx]}" "$(ratio "${MED[floor_cxx]}" "${MED[floor]}")" "" ""
r=$(ratio "${MED[kvq]}" "${MED[floor]}")
row "kvq" "${MED[kvq]}" "$r" "${RSS[kvq]}" \
  "target <= 1.15x: $(verdict "$r" le 1.15); RSS < 1536 KiB: $(verdict "${RSS[kvq]}" le 1535)"
for p in gcc clang; do
  [ -n "${MED[$p]:-}" ] && row "$p -### -c x.c (no child)" "${MED[$p]}" "$(ratio "${MED[$p]}" "${MED[floor]}")" "" ""
done

echo
echo "Intake: @ file of n options of 24 characters, one per line (kvq with -q)"
row "n" "floor ms" "kvq ms" "kvq KiB" "kvq x floor"
for n in "${sizes[@]}"; do
  row "$n" "${MED[floor$n]}" "${MED[kvq$n]}" "${RSS[kvq$n]}" "$(ratio "${MED[kvq$n]}" "${MED[floor$n]}") ${NOTE[$n]:-}"
done
r=$(ratio "${MED[kvq100000]}" "${MED[floor100000]}")
echo "  100k: kvq ${r}x the floor (target <= 1.5x): $(verdict "$r" le 1.5)"
g=$(ratio "${MED[kvq1000000]}" "${MED[kvq100000]}")
echo "  growth 1M / 100k: ${g}x (target <= 11x): $(verdict "$g" le 11)"
echo "  peak RSS at 100k: ${RSS[kvq100000]} KiB (target < 20480): $(verdict "${RSS[kvq100000]}" le 20479)"
for p in gcc clang; do
  if [ -n "${MED[${p}100000]:-}" ]; then
    s=$(ratio "${MED[${p}100000]}" "${MED[kvq100000]}")
    line="  $p @file -dumpversion at 100k: ${MED[${p}100000]} ms = ${s}x kvq's time"
    [ "$p" = gcc ] && line="$line (target >= 2.5x): $(verdict "$s" ge 2.5)"
    echo "$line"
  fi
done

echo
echo "Catalogue load: first alert parses the embedded catalogue"
# The verdict uses CPU time: the parse is pure computation, and the wall
# time of two separate series drifts with the machine's load by more than
# the difference sought.
d=$(awk -v a="${MED[alert]}" -v b="${MED[quiet]}" 'BEGIN{ printf "%.2f", a - b }')
c=$(awk -v a="${CPU[alert]}" -v b="${CPU[quiet]}" 'BEGIN{ printf "%.2f", a - b }')
echo "  wall (median): no alert ${MED[quiet]} ms, one alert ${MED[alert]} ms, difference $d ms"
echo "  CPU (mean user+sys): no alert ${CPU[quiet]} ms, one alert ${CPU[alert]} ms, difference $c ms" \
  "(target < 1 ms): $(verdict "$c" le 0.999)"
echo
echo "Temporary entries left under TEMP after all runs: $leftover"
