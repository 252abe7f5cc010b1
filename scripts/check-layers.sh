#!/usr/bin/env bash
# Checks that the code runs downhill: no module of common/, debug/ or driver/
# uses one that stands above it in the layer table below.
#   1. Includes: every #include "..." of those folders names a module of the
#      same group or of a lower one.
#   2. Symbols (given a build tree): in the layers' static libraries, every
#      symbol an object file uses that another object of the project defines
#      is defined in the same group or a lower one; and every object file
#      sits in the library of its layer.  This catches upward calls that no
#      include shows.  The system's nm reads the objects of the Windows
#      cross build (PE, ".obj") as well as the native ones.
# Usage: scripts/check-layers.sh [--source DIR] [BUILD_DIR]
#   --source DIR  the source tree to read (default: this checkout)
#   BUILD_DIR     a built tree (build/ci, say); without it only step 1 runs
# Exit status 0 when everything runs downhill, 1 with one line per upward use.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--source" ]; then
  src=$2
  shift 2
fi
build=${1:-}

# The layers, bottom to top, with their CMake library.  Inside a layer the
# modules (file names without extension) stand bottom to top too; modules
# joined by "+" form one group, whose members may use each other.
#   layer       library          modules
read -r -d '' TABLE <<'EOF' || true
trace       kvq_trace        osdep_defs trace
platform    kvq_platform     osdep+osdep_local+osdep_posix+osdep_win32 os_qsort
foundation  kvq_foundation   alloc freecache skiplist ptrset numset vector hash stringcache tally_table
install     kvq_install      kvinstdir registry
diag        kvq_diag         alert+msgcat+msgcat_embedded+werror
debug       kvq_debug        kvdebug+kvdebug_state+args_trace+launch+package
driver      kvq_driver       cmdline kvq main
EOF

# The table as "module rank layer library" lines; a group shares one rank.
table=$(awk '{
  for (i = 3; i <= NF; i++) {
    rank++
    n = split($i, group, "+")
    for (j = 1; j <= n; j++) print group[j], rank, $1, $2
  }
}' <<< "$TABLE")

failures=$(mktemp)
trap 'rm -f "$failures"' EXIT

# ---- 1. includes ---------------------------------------------------------------
(cd "$src" && grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' common/*.h common/*.cpp \
   debug/*.h debug/*.cpp driver/*.h driver/*.cpp 2>/dev/null || true) |
awk -v table="$table" '
  function module(path) { sub(/.*\//, "", path); sub(/\.[^.]*$/, "", path); return path }
  BEGIN {
    n = split(table, rows, "\n")
    for (i = 1; i <= n; i++) { split(rows[i], f, " "); rank[f[1]] = f[2]; layer[f[1]] = f[3] }
  }
  {
    file = $0; sub(/:.*/, "", file)
    target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
    from = module(file); to = module(target)
    if (!(from in rank)) { print file ": not in the layer table"; next }
    if (!(to in rank)) { print file ": includes \"" target "\", which is not in the layer table"; next }
    if (rank[to] + 0 > rank[from] + 0) {
      where = layer[to] == layer[from] ? "above it in the " layer[to] " layer" : "in the higher " layer[to] " layer"
      print file " (" layer[from] ") includes \"" target "\", " where
    }
  }' | sort -u >> "$failures"

# ---- 2. symbols ------------------------------------------------------------------
if [ -n "$build" ]; then
  libs=
  for lib in $(awk '{ print $2 }' <<< "$TABLE"); do
    found=$(find "$build" -name "lib$lib.a" | head -n 1)
    if [ -z "$found" ]; then
      echo "check-layers: no lib$lib.a under $build (build it first)" >&2
      exit 2
    fi
    libs="$libs $found"
  done
  # "library member type symbol" for every global symbol of every member.
  # shellcheck disable=SC2086
  nm -A -P $libs 2>/dev/null | awk '{
    where = $1; sub(/:$/, "", where)
    lib = where; sub(/\[.*/, "", lib); sub(/.*\//, "", lib); sub(/^lib/, "", lib); sub(/\.a$/, "", lib)
    member = where; sub(/.*\[/, "", member); sub(/\]$/, "", member)
    print lib, member, $3, $2
  }' | awk -v table="$table" '
    function module(member) { sub(/\.o(bj)?$/, "", member); sub(/\.[^.]*$/, "", member); return member }
    BEGIN {
      n = split(table, rows, "\n")
      for (i = 1; i <= n; i++) { split(rows[i], f, " "); rank[f[1]] = f[2]; layer[f[1]] = f[3]; library[f[1]] = f[4] }
    }
    {
      lib = $1; m = module($2); type = $3; sym = $4
      if (!(m in rank)) { bad[$2 ": not in the layer table"] = 1; next }
      if (library[m] != lib) bad[$2 " is in " lib ", the table has it in " library[m]] = 1
      if (type == "U") { used[++uses] = m " " sym }
      else if (type ~ /^[TDBRGS]$/) defined[sym] = m
    }
    END {
      for (i = 1; i <= uses; i++) {
        split(used[i], u, " ")
        if (!(u[2] in defined)) continue
        d = defined[u[2]]
        if (rank[d] + 0 > rank[u[1]] + 0)
          bad[u[1] " (" layer[u[1]] ") uses " u[2] " of " d " (" layer[d] ")"] = 1
      }
      for (line in bad) print line
    }' | c++filt | sort >> "$failures"
fi

if [ -s "$failures" ]; then
  echo "check-layers: a lower layer uses a higher one (table in scripts/check-layers.sh):" >&2
  sed 's/^/  /' "$failures" >&2
  exit 1
fi
echo "check-layers: includes${build:+ and symbols} run downhill"
