#!/usr/bin/env bash
# textconv timing against GNU enscript on 10 MB of generated text (program
# source and prose, with tabs), both writing PostScript at 80 columns of
# Courier, taken in turns in the same run. Prints the median seconds (wall
# and cpu) and MB/s of each; the target is textconv at least as fast.
#   bash bench/textconv.sh [build-dir] [runs]
# enscript is not a build dependency; its dependencies are clean (no
# printing library):
#   apt-get install --no-install-recommends enscript
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/timing.bash"
build=${1:-build/release}
runs=${2:-5}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

if ! command -v enscript >/dev/null; then
  echo "bench/textconv.sh: enscript is missing; install it with" >&2
  echo "  apt-get install --no-install-recommends enscript" >&2
  exit 1
fi

mkdir -p "$build"
log="$build/textconv-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target filter_textconv textconv_data >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/textconv.sh: building textconv failed" >&2
  exit 1
fi
textconv="$build/filter/textconv"
export VORN_DATADIR="$build/textconv-data"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
doc="$work/doc.txt"

# 10 MB: numbered lines of 40 to 75 characters, a tab now and then.
awk 'BEGIN {
  n = 0; size = 0
  while (size < 10 * 1024 * 1024) {
    n++
    if (n % 7 == 0) line = sprintf("\tstatic int f%d(int x) { return x * %d; }  /* helper */", n, n)
    else if (n % 5 == 0) line = sprintf("%6d  The quick brown fox jumps over the lazy dog.", n)
    else line = sprintf("%6d  Lorem ipsum dolor sit amet, consectetur adipiscing elit %d.", n, n % 97)
    print line
    size += length(line) + 1
  }
}' >"$doc"
bytes=$(wc -c <"$doc")

mbps() { echo "scale=1; $bytes / 1048576 / $1" | bc; }

unset PPD CLASSIFICATION CHARSET CONTENT_TYPE
run_textconv() { "$textconv" 1 bench bench 1 "" "$doc"; }
# enscript's plain layout: no header, Courier 10 on Letter, to standard output.
run_enscript() { enscript -q -B -fCourier10 -MLetter -p - "$doc"; }

# Both must succeed before they are timed.
run_textconv >"$work/t.ps" && run_enscript >"$work/e.ps" || { echo "bench/textconv.sh: a converter failed" >&2; exit 1; }
printf 'text: %s bytes; output: textconv %s bytes, enscript %s bytes\n' "$bytes" "$(wc -c <"$work/t.ps")" "$(wc -c <"$work/e.ps")"
printf 'median of %d runs taken in turns\n' "$runs"
: >"$work/a"; : >"$work/b"
for ((i = 0; i < runs; i++)); do
  once run_textconv >>"$work/a"
  once run_enscript >>"$work/b"
done
a=$(median "$work/a"); b=$(median "$work/b")
printf '%-10s %8s s wall %8s s cpu %8s MB/s\n' textconv ${a% *} ${a#* } "$(mbps ${a% *})"
printf '%-10s %8s s wall %8s s cpu %8s MB/s\n' enscript ${b% *} ${b#* } "$(mbps ${b% *})"
verdict=$(echo "${a%% *} <= ${b%% *}" | bc)
[ "$verdict" = 1 ] && echo "textconv at least as fast as enscript" || echo "textconv slower than enscript"
