#!/usr/bin/env bash
# Measures kvq against the physical floor of its job and against peer drivers,
# and prints one table of medians, ratios, page faults, peak RSS and the
# targets.
#
#   bench/run.sh            (RUNS=n for more than 30 runs per row)
#
# Builds what it needs: kvq from the `release` preset (static; KVQ_BENCH_KVQ
# names another kvq binary), the floor programs of bench/floor and the
# measuring tools of bench/ with `cc -O2 -static`.  Everything runs from a
# scratch installation <tmp>/R/V/tor/bin holding kvq, the floors and the
# static no-op program as the back end "torc"; TEMP points to a scratch
# directory on the same disk.
#
# Every row gives three figures for kvq and for the floor, each with its
# ratio: the wall-clock median, the median CPU time (user + system) and the
# median count of minor page faults, all including the back end (measure.c).
# A machine where page faults are dear rewards fewer of them, one where they
# are cheap rewards less work: the targets hold for wall and CPU time alike,
# and the faults and their price (touch_pages.c) say which machine this is.
# Ratios, not absolute times, are what compare across machines: all rows of
# one table run in the same invocation, floor and kvq in turn.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
RUNS=${RUNS:-30}
[ "$RUNS" -ge 30 ] || { echo "RUNS must be at least 30" >&2; exit 2; }

# ---- tools ---------------------------------------------------------------
need=()
command -v cc >/dev/null || need+=(gcc)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench needs: apt-get install ${need[*]}" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

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
cc -O2 -static -o "$bin/touch_pages" bench/touch_pages.c
cc -O2 -static -o "$scratch/measure" bench/measure.c
cp "$bin/noop" "$bin/torc"
# The build and the copies above leave dirty pages; writing them back while
# the first rows run would show up as noise in the per-invocation figures.
sync
export TEMP=$scratch/tmp
cd "$scratch/work"
echo 'int main(void) { return 0; }' > x.c

# ---- measuring helpers -------------------------------------------------------
declare -A WALL CPU FLT RSS

# bench RUNS LABEL=COMMAND ...: the commands run in turn, RUNS times each
# after 3 warm-up rounds; their medians land in WALL (ms), CPU (ms, user +
# system) and FLT (minor faults), their peak resident set in RSS (KiB).
# Commands hold no quotes; a failing run aborts the benchmark.
bench() {
  local runs=$1; shift
  local label wall cpu flt rss failed
  while read -r label wall cpu flt rss failed; do
    [ "$failed" -eq 0 ] || { echo "bench: $label failed in $failed runs" >&2; exit 1; }
    WALL[$label]=$wall CPU[$label]=$cpu FLT[$label]=$flt RSS[$label]=$rss
  done < <("$scratch/measure" "$runs" "$([ "$runs" -gt 1 ] && echo 3 || echo 0)" "$@")
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# verdict VALUE OP LIMIT: "holds" or "FAILS" for VALUE <= LIMIT (OP le) or >= (OP ge).
verdict() {
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN{ ok = (op == "le") ? v <= l : v >= l; print ok ? "holds" : "FAILS" }'
}
# both A B OP LIMIT: one verdict for two values.
both() {
  [ "$(verdict "$1" "$3" "$4")" = holds ] && [ "$(verdict "$2" "$3" "$4")" = holds ] && echo holds || echo FAILS
}
fmt() { awk -v v="$1" 'BEGIN{ printf "%.2f", v }'; }
row() { printf '  %-24s %9s %7s %9s %7s %9s %7s %9s\n' "$@"; }
# compare LABEL KVQ FLOOR: a table row of kvq's figures and their ratios to the floor's.
compare() {
  row "$1" "$(fmt "${WALL[$2]}")" "$(ratio "${WALL[$2]}" "${WALL[$3]}")" \
    "$(fmt "${CPU[$2]}")" "$(ratio "${CPU[$2]}" "${CPU[$3]}")" \
    "${FLT[$2]}" "$(ratio "${FLT[$2]}" "${FLT[$3]}")" "${RSS[$2]}"
}
floor_row() { row "$1" "$(fmt "${WALL[$2]}")" "" "$(fmt "${CPU[$2]}")" "" "${FLT[$2]}" "" "${RSS[$2]}"; }
header() { row "$1" "wall ms" "x floor" "CPU ms" "x floor" "faults" "x floor" "peak KiB"; }

# ---- 1. per invocation ---------------------------------------------------------
opts20=(-v --chip=16F877A --std=c99 -Iinclude -Isrc/board -DNDEBUG=1 -DBOARD=3 --opt=+speed
        -Wno-error=1501 --warn=0 -O2 --asmlist --output=+elf --summary=-psect -g
        --codeoffset=0 --stack=compiled --addrqual=ignore -fshort-double main.c)
peers=()
command -v gcc >/dev/null && peers+=("gcc=gcc -### -c x.c")
command -v clang >/dev/null && peers+=("clang=clang -### -c x.c")
echo "1/5 per-invocation cost..." >&2
bench "$RUNS" "floor=$bin/floor_invoke ${opts20[*]}" "floor_cxx=$bin/floor_invoke_cxx ${opts20[*]}" \
  "kvq=$bin/kvq ${opts20[*]}" "${peers[@]}"

# ---- 2. intake at scale ------------------------------------------------------------
sizes=(1000 10000 100000 1000000)
for n in "${sizes[@]}"; do
  awk -v n="$n" 'BEGIN{ for (i = 0; i < n; i++) printf "-Dbench_option_%07d=1\n", i }' > "opts$n"
done
echo "2/5 intake of @ files..." >&2
declare -A NOTE
for n in "${sizes[@]}"; do
  # One probe run first: a size whose single run takes longer than
  # SLOW_RUN seconds is reported from that run alone (30 runs of a
  # quadratic intake would take hours), marked in the table.
  "$scratch/measure" 1 0 "probe=$bin/kvq -q @opts$n" > "$scratch/probe"
  read -r _ wall _ < "$scratch/probe"
  if awk -v ms="$wall" -v l="${SLOW_RUN:-10}" 'BEGIN{ exit !(ms > l * 1000) }'; then
    bench 1 "floor$n=$bin/floor_intake @opts$n" "kvq$n=$bin/kvq -q @opts$n"
    NOTE[$n]="(one run only)"
  else
    bench "$RUNS" "floor$n=$bin/floor_intake @opts$n" "kvq$n=$bin/kvq -q @opts$n"
  fi
done
echo "3/5 peer intake at 100k..." >&2
ipeers=()
command -v gcc >/dev/null && ipeers+=("gcc100000=gcc @opts100000 -dumpversion")
command -v clang >/dev/null && ipeers+=("clang100000=clang @opts100000 -dumpversion")
[ ${#ipeers[@]} -gt 0 ] && bench "$RUNS" "${ipeers[@]}"

# ---- 3. catalogue load -----------------------------------------------------------------
# "-Werror=" raises alert 1606 (an error that does not stop the run), the
# first numbered alert and so the catalogue load; "-Werror=1" raises none.
# kvq exits 0 either way.
echo "4/5 catalogue load..." >&2
bench $((RUNS * 3)) "quiet=$bin/kvq -q -Werror=1" "alert=$bin/kvq -q -Werror="

# ---- 4. the price of a page fault ----------------------------------------------------
echo "5/5 page faults..." >&2
bench "$RUNS" "touch0=$bin/touch_pages 0" "touch=$bin/touch_pages 16384"

leftover=$(find "$TEMP" -mindepth 1 | wc -l)

# ---- table ---------------------------------------------------------------------------------
echo
echo "kvq benchmarks: medians of $RUNS runs (catalogue rows $((RUNS * 3))), $(nproc) cores, $(date -u +%F)"
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
fault_us=$(awk -v c1="${CPU[touch]}" -v c0="${CPU[touch0]}" -v f1="${FLT[touch]}" -v f0="${FLT[touch0]}" \
  'BEGIN{ printf "%.2f", (c1 - c0) * 1000 / (f1 - f0) }')
fault_wall_us=$(awk -v c1="${WALL[touch]}" -v c0="${WALL[touch0]}" -v f1="${FLT[touch]}" -v f0="${FLT[touch0]}" \
  'BEGIN{ printf "%.2f", (c1 - c0) * 1000 / (f1 - f0) }')
echo "page fault: ${fault_us} us of CPU time (${fault_wall_us} us of wall time) for a fresh 4 KiB page;" \
  "the floor at 100k: $(awk -v c="${CPU[floor100000]}" -v f="${FLT[floor100000]}" 'BEGIN{ printf "%.2f", c * 1000 / f }') us of CPU time per fault"
echo
echo "Per invocation: 20 ordinary options, back end = static no-op"
header ""
floor_row "floor (static C)" floor
compare "floor (dynamic C++)" floor_cxx floor
compare "kvq" kvq floor
for p in gcc clang; do
  [ -n "${WALL[$p]:-}" ] && compare "$p -### -c x.c" "$p" floor
done
rw=$(ratio "${WALL[kvq]}" "${WALL[floor]}") rc=$(ratio "${CPU[kvq]}" "${CPU[floor]}")
echo "  kvq: ${rw}x wall, ${rc}x CPU (target <= 1.1x both): $(both "$rw" "$rc" le 1.1);" \
  "peak RSS ${RSS[kvq]} KiB (target < 1536): $(verdict "${RSS[kvq]}" le 1535)"

echo
echo "Intake: @ file of n options of 24 characters, one per line (kvq with -q)"
header "n"
for n in "${sizes[@]}"; do
  floor_row "$n floor" "floor$n"
  compare "$n kvq ${NOTE[$n]:-}" "kvq$n" "floor$n"
done
for target in "100000 1.5" "1000000 1.6"; do
  read -r n limit <<< "$target"
  rw=$(ratio "${WALL[kvq$n]}" "${WALL[floor$n]}") rc=$(ratio "${CPU[kvq$n]}" "${CPU[floor$n]}")
  echo "  $n: kvq ${rw}x the floor's wall time, ${rc}x its CPU time (target <= ${limit}x both): $(both "$rw" "$rc" le "$limit")"
done
gw=$(ratio "${WALL[kvq1000000]}" "${WALL[kvq100000]}") gc=$(ratio "${CPU[kvq1000000]}" "${CPU[kvq100000]}")
echo "  growth 1M / 100k: ${gw}x wall, ${gc}x CPU (target <= 11x both): $(both "$gw" "$gc" le 11)"
echo "  peak RSS at 100k: ${RSS[kvq100000]} KiB (target < 20480): $(verdict "${RSS[kvq100000]}" le 20479)"
for p in gcc clang; do
  if [ -n "${WALL[${p}100000]:-}" ]; then
    sw=$(ratio "${WALL[${p}100000]}" "${WALL[kvq100000]}") sc=$(ratio "${CPU[${p}100000]}" "${CPU[kvq100000]}")
    line="  $p @file -dumpversion at 100k: $(fmt "${WALL[${p}100000]}") ms wall = ${sw}x kvq's, $(fmt "${CPU[${p}100000]}") ms CPU = ${sc}x kvq's"
    [ "$p" = gcc ] && line="$line (target >= 3x both): $(both "$sw" "$sc" ge 3)"
    echo "$line"
  fi
done

echo
echo "Catalogue load: first alert parses the embedded catalogue"
# The verdict uses CPU time: the parse is pure computation, and wall time
# drifts with the machine's load by more than the difference sought.
d=$(awk -v a="${WALL[alert]}" -v b="${WALL[quiet]}" 'BEGIN{ printf "%.2f", a - b }')
c=$(awk -v a="${CPU[alert]}" -v b="${CPU[quiet]}" 'BEGIN{ printf "%.2f", a - b }')
echo "  wall: no alert $(fmt "${WALL[quiet]}") ms, one alert $(fmt "${WALL[alert]}") ms, difference $d ms"
echo "  CPU: no alert $(fmt "${CPU[quiet]}") ms, one alert $(fmt "${CPU[alert]}") ms, difference $c ms" \
  "(target < 1 ms): $(verdict "$c" le 0.999)"
echo
echo "Temporary entries left under TEMP after all runs: $leftover"
