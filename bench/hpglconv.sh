#!/usr/bin/env bash
# hpglconv timing against hp2xx on a generated plot of 200,000 vectors
# (1,000 polylines of 200 segments in 8 pens, absolute and relative), both
# writing PostScript, taken in turns in the same run. Prints the median
# seconds (wall and cpu) of each; the target is hpglconv at least as fast.
#   bash bench/hpglconv.sh [build-dir] [runs]
# hp2xx comes from .ci/install-deps (its dependencies hold no printing
# library). Debian's hp2xx writes PostScript in its "eps" mode only (it
# knows no "ps" mode).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/timing.bash"
build=${1:-build/release}
runs=${2:-5}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

if ! command -v hp2xx >/dev/null; then
  echo "bench/hpglconv.sh: hp2xx is missing; .ci/install-deps installs it" >&2
  exit 1
fi

mkdir -p "$build"
log="$build/hpglconv-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target filter_hpglconv >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/hpglconv.sh: building hpglconv failed" >&2
  exit 1
fi
hpglconv="$build/filter/hpglconv"
export VORN_DATADIR="$build/hpglconv-data"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
plot="$work/plot.hpgl"

# 1,000 polylines of 200 vectors each within a 10 x 7.5 inch frame: a
# pen-up move, then absolute points, then relative steps.
awk 'BEGIN {
  srand(1)
  print "IN;SP1;"
  for (l = 0; l < 1000; l++) {
    printf "SP%d;PU%d,%d;PD", l % 8 + 1, int(rand() * 10000), int(rand() * 7000)
    for (v = 0; v < 100; v++) printf "%s%d,%d", v ? "," : "", int(rand() * 10160), int(rand() * 7620)
    printf ";PR"
    for (v = 0; v < 100; v++) printf "%s%d,%d", v ? "," : "", int(rand() * 400) - 200, int(rand() * 400) - 200
    print ";PA0,0;PU;"
  }
  print "SP0;PG;"
}' >"$plot"
vectors=$(( 1000 * 200 ))

unset PPD CLASSIFICATION
run_hpglconv() { "$hpglconv" 1 bench bench 1 "" "$plot" >"$work/h.ps"; }
run_hp2xx() { hp2xx -q -m eps -f "$work/x.ps" "$plot"; }

# Both must succeed before they are timed.
run_hpglconv 2>/dev/null && run_hp2xx >/dev/null 2>&1 || { echo "bench/hpglconv.sh: a converter failed" >&2; exit 1; }
printf 'plot: %s vectors, %s bytes; output: hpglconv %s bytes, hp2xx %s bytes\n' "$vectors" "$(wc -c <"$plot")" \
  "$(wc -c <"$work/h.ps")" "$(wc -c <"$work/x.ps")"
printf 'median of %d runs taken in turns\n' "$runs"
: >"$work/a"; : >"$work/b"
for ((i = 0; i < runs; i++)); do
  once run_hpglconv >>"$work/a"
  once run_hp2xx >>"$work/b"
done
a=$(median "$work/a"); b=$(median "$work/b")
printf '%-10s %8s s wall %8s s cpu\n' hpglconv ${a% *} ${a#* }
printf '%-10s %8s s wall %8s s cpu\n' hp2xx ${b% *} ${b#* }
verdict=$(echo "${a%% *} <= ${b%% *}" | bc)
[ "$verdict" = 1 ] && echo "hpglconv at least as fast as hp2xx" || echo "hpglconv slower than hp2xx"
