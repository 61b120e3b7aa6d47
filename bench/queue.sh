#!/usr/bin/env bash
# Job queue at scale: a server root with 1,000 printers in printers.conf and
# 10,000 jobs in the spool (control file and document each). Prints vornd's
# start-up time (until its port answers), its memory (VmHWM, VmRSS) and the
# round trip of one Get-Jobs listing every job with every attribute (median
# of several), beside the targets. No pass or fail on them.
#   bash bench/queue.sh [build-dir] [printers [jobs [repetitions]]]
# The build directory (default build/release, made by `make build`) is
# configured RelWithDebInfo when new, and vornd and the helper are built
# there. Everything else lives in a temporary directory that
# is removed at the end, with the server.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
printers=${2:-1000}
jobs=${3:-10000}
reps=${4:-7}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

mkdir -p "$build"
log="$build/queue-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target vornd queue_bench qstatus >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/queue.sh: building vornd failed" >&2
  exit 1
fi
vornd="${VORND:-$build/scheduler/vornd}"  # VORND: another build of it to compare

bin="$build/bench/queue_bench"

work=$(mktemp -d /tmp/vorn-queue-bench-XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

. "$here/bench/ports.bash"
port=$(free_port)

echo "generating $printers printers and $jobs jobs in $work"
"$bin" gen "$work" "$port" "$printers" "$jobs"
# The type database, so that every document is typed at load time as it
# would be on a real server.
cp "$here/data/vorn.types" "$here/data/vorn.convs" "$work/"
sync

value() { sed -n "s/^$1 //p" <<<"$2"; }

started=$("$bin" start "$port" "$vornd" -f -c "$work/vornd.conf")
pid=$(value pid "$started")
startup=$(value startup_ms "$started")
mem_start=$("$bin" memory "$pid")
cpu0=$(value cpu_ms "$("$bin" cpu "$pid")")
listing=$("$bin" get-jobs "$port" "$reps")
cpu1=$(value cpu_ms "$("$bin" cpu "$pid")")
printers_listing=$("$bin" get-printers "$port" "$reps")
cpu2=$(value cpu_ms "$("$bin" cpu "$pid")")
mem_after=$("$bin" memory "$pid")

# The whole job report as a user reads it, beside the same listing through
# an IPP client written elsewhere.
ms_now() { date +%s%N | cut -c1-13; }
t0=$(ms_now)
qstatus_lines=$(VORN_SERVER="127.0.0.1:$port" "$build/commands/qstatus" -o | wc -l)
t1=$(ms_now)
npm_listing=$(node "$here/bench/ipp_get_jobs.js" "$port" 2>&1 || true)

errors=$(grep -c '^E ' "$work/logs/error_log" 2>/dev/null || true)
printf '\nvornd %s, %s printers, %s jobs\n' "$vornd" "$printers" "$jobs"
printf '  start-up until the port answers   %8s ms    (target < 500 ms)\n' "$startup"
printf '  memory after start-up  VmHWM     %8s kB    VmRSS %s kB\n' "$(value VmHWM_kb "$mem_start")" "$(value VmRSS_kb "$mem_start")"
printf '  memory after listings  VmHWM     %8s kB    VmRSS %s kB    (target: VmRSS < 102400 kB)\n' \
  "$(value VmHWM_kb "$mem_after")" "$(value VmRSS_kb "$mem_after")"
printf '  Get-Jobs, all jobs, all attributes: median %s ms, min %s ms, max %s ms over %s    (target < 50 ms)\n' \
  "$(value get_jobs_median_ms "$listing")" "$(value get_jobs_min_ms "$listing")" \
  "$(value get_jobs_max_ms "$listing")" "$reps"
printf '  jobs listed %s, reply %s bytes, vornd CPU per listing %s ms\n' "$(value get_jobs_listed "$listing")" \
  "$(value get_jobs_bytes "$listing")" "$(((cpu1 - cpu0) / reps))"
printf '  VORN-Get-Printers, all attributes: median %s ms, min %s ms, max %s ms over %s    (target < 20 ms)\n' \
  "$(value get_printers_median_ms "$printers_listing")" "$(value get_printers_min_ms "$printers_listing")" \
  "$(value get_printers_max_ms "$printers_listing")" "$reps"
printf '  printers listed %s, reply %s bytes, vornd CPU per listing %s ms\n' \
  "$(value get_printers_listed "$printers_listing")" "$(value get_printers_bytes "$printers_listing")" \
  "$(((cpu2 - cpu1) / reps))"
[ "${errors:-0}" = "0" ] || printf '  (%s error lines in the error log: the figures may not mean what they say)\n' "$errors"
printf '  qstatus -o (every job): %s lines in %s ms; the npm ipp client, the same listing: %s jobs in %s ms\n' \
  "$qstatus_lines" "$((t1 - t0))" "$(value jobs "$npm_listing")" "$(value ms "$npm_listing")"
