#!/usr/bin/env bash
# psconv timing against psutils on one generated 1,000-page DSC document:
# pages 1-500, reverse order and 2-up, each by psconv and by psselect/psnup
# in the same run. Prints seconds per task (best of the runs) and nothing
# else is judged: the target is psconv at least as fast as psutils.
#   bash bench/psconv.sh [build-dir] [runs]
# psutils is not a build dependency. Install it without its recommended
# packages (they bring in a PostScript interpreter we must not use):
#   apt-get install --no-install-recommends psutils
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
runs=${2:-15}
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

# best_of <runs> <command...>: the fastest of the runs, as "wall cpu"
# seconds (cpu = user + system), timed by the shell itself.
best_of() {
  local n=$1 best="" cpu="" t
  shift
  for ((i = 0; i < n; i++)); do
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
    read -r real user sys <<<"$t"
    if [ -z "$best" ] || [ "$(echo "$real < $best" | bc)" = 1 ]; then
      best=$real
      cpu=$(echo "$user + $sys" | bc)
    fi
  done
  printf '%s %s' "$best" "$cpu"
}

# No printer: the filter does the ordering itself, as for a printer whose
# PPD offers no output order.
unset PPD CLASSIFICATION
run_psconv() { "$psconv" 1 bench bench 1 "$1" "$doc"; }

printf 'document: %s bytes, 1000 pages; best of %d runs, seconds (wall, cpu)\n' "$(wc -c <"$doc")" "$runs"
printf '%-16s %16s %16s\n' task psconv psutils
for task in "pages 1-500" "reverse order" "2-up"; do
  case "$task" in
    "pages 1-500")   a=$(best_of "$runs" run_psconv "page-ranges=1-500"); b=$(best_of "$runs" psselect -q -p1-500 "$doc") ;;
    "reverse order") a=$(best_of "$runs" run_psconv "OutputOrder=Reverse"); b=$(best_of "$runs" psselect -q -r "$doc") ;;
    "2-up")          a=$(best_of "$runs" run_psconv "number-up=2"); b=$(best_of "$runs" psnup -q -2 "$doc") ;;
  esac
  verdict=$(echo "${a%% *} <= ${b%% *}" | bc)
  printf '%-16s %16s %16s  %s\n' "$task" "$a" "$b" "$([ "$verdict" = 1 ] && echo "psconv at least as fast" || echo "psconv slower")"
done
