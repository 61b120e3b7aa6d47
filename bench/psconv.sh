#!/usr/bin/env bash
# psconv timing against psutils on one generated 1,000-page DSC document:
# pages 1-500, reverse order and 2-up, each by psconv and by psselect/psnup
# in the same run. Prints seconds per task (the median of the runs) and
# nothing else is judged: the target is psconv at least as fast as psutils.
#   bash bench/psconv.sh [build-dir] [runs]
# psutils is not a build dependency. Install it without its recommended
# packages (they bring in a PostScript interpreter we must not use):
#   apt-get install --no-install-recommends psutils
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/timing.bash"
build=${1:-build/release}
runs=${2:-21}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

for tool in psselect psnup; do
  if ! command -v "$tool" >/dev/null; then
    echo "bench/psconv.sh: $tool is missing; install psutils with" >&2
    echo "  apt-get install --no-install-recommends psutils" >&2
    exit 1
  fi
done

mkdir -p "$build"
log="$build/psconv-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target filter_psconv >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/psconv.sh: building psconv failed" >&2
  exit 1
fi
psconv="$build/filter/psconv"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
doc="$work/doc.ps"

# 1,000 pages of about 2 KB: a few dozen lines of text each.
awk 'BEGIN {
  print "%!PS-Adobe-3.0"; print "%%Title: bench"; print "%%Pages: 1000"; print "%%EndComments"
  print "%%BeginProlog"; print "/L { 72 exch moveto show } bind def"; print "%%EndProlog"
  print "%%BeginSetup"; print "/Courier findfont 10 scalefont setfont"; print "%%EndSetup"
  for (p = 1; p <= 1000; p++) {
    printf "%%%%Page: %d %d\n", p, p
    for (l = 0; l < 40; l++) printf "(Page %d line %d: the quick brown fox jumps over the lazy dog) %d L\n", p, l, 740 - l * 16
    print "showpage"
  }
  print "%%Trailer"; print "%%EOF"
}' >"$doc"

# No printer: the filter does the ordering itself, as for a printer whose
# PPD offers no output order.
unset PPD CLASSIFICATION
run_psconv() { "$psconv" 1 bench bench 1 "$1" "$doc"; }

printf 'document: %s bytes, 1000 pages; median of %d runs taken in turns, seconds (wall cpu)\n' \
  "$(wc -c <"$doc")" "$runs"
printf '%-16s %16s %16s\n' task psconv psutils
for task in "pages 1-500" "reverse order" "2-up"; do
  case "$task" in
    "pages 1-500")   mine=(run_psconv "page-ranges=1-500");  theirs=(psselect -q -p1-500 "$doc") ;;
    "reverse order") mine=(run_psconv "OutputOrder=Reverse"); theirs=(psselect -q -r "$doc") ;;
    "2-up")          mine=(run_psconv "number-up=2");         theirs=(psnup -q -2 "$doc") ;;
  esac
  : >"$work/a"; : >"$work/b"
  # In turns, so that whatever else the machine does weighs on both alike.
  for ((i = 0; i < runs; i++)); do
    once "${mine[@]}" >>"$work/a"
    once "${theirs[@]}" >>"$work/b"
  done
  a=$(median "$work/a"); b=$(median "$work/b")
  verdict=$(echo "${a%% *} <= ${b%% *}" | bc)
  printf '%-16s %16s %16s  %s\n' "$task" "$a" "$b" "$([ "$verdict" = 1 ] && echo "psconv at least as fast" || echo "psconv slower")"
done
