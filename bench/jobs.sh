#!/usr/bin/env bash
# Jobs per second through vornd, from submission to completion: a burst of
# Print-Job requests (tests/e2e/burst_client.js, 8 kept-alive connections)
# on a queue with no filter and a "file:" device, then the same on a queue
# with one filter ("cat") before its "file:" device. The time runs from the
# first request until Get-Jobs lists no active job. Prints the figures; no
# pass or fail on them. Last, jobs sent one after the other by one `submit`
# process each, as a user's script sends them, to the unfiltered queue
# (needs bench/queue_bench, which bench/queue.sh builds, to wait for the
# queue).
#   bash bench/jobs.sh [build-dir] [jobs [sequential-jobs]]
#   (default build/release, 2000 jobs, 500 sequential ones)
# SLOW_SYNC_MS=N makes every fsync and fdatasync of vornd N ms slower (a
# small preloaded library built here with cc), for the figures of a slower
# disk than this machine's.
# Builds nothing (`make build` does). Everything runs under a temporary
# directory that is removed at the end, with the scheduler.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
jobs=${2:-2000}
sequential=${3:-500}
case "$build" in /*) ;; *) build="$here/$build" ;; esac
vornd="${VORND:-$build/scheduler/vornd}"  # VORND: another build of it to compare

if [ ! -x "$vornd" ]; then
  echo "bench/jobs.sh: $vornd is missing: build it first with \`make build\`" >&2
  exit 1
fi
if ! command -v node >/dev/null 2>&1 || [ ! -d "$here/tests/interop/node_modules/ipp-encoder" ]; then
  echo "bench/jobs.sh: node and the npm packages of tests/interop are needed (\`make deps\`)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-jobs-bench-XXXXXX")
vornd_pid=""
cleanup() {
  [ -n "$vornd_pid" ] && kill "$vornd_pid" 2>/dev/null && wait "$vornd_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

. "$here/bench/ports.bash"

port=$(free_port)
root="$work/root"
mkdir -p "$root"/{logs,spool/tmp,ssl,bin/filter,bin/backend,data,ppd}
cp "$here/data/vorn.types" "$here/data/vorn.convs" "$root/"

# The one filter: copies its document (a file name for the first process of
# a chain, else standard input) to standard output.
cat >"$root/bin/filter/passthru" <<'SH'
#!/bin/sh
if [ -n "$6" ]; then exec cat "$6"; else exec cat; fi
SH
chmod 0755 "$root/bin/filter/passthru"

# The filtered queue's PPD: plain text goes through passthru.
cat >"$root/ppd/filtered.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "BENCH.PPD"
*Product: "(Bench)"
*PSVersion: "(3010.000) 0"
*Manufacturer: "Vorn"
*ModelName: "Bench"
*ShortNickName: "Bench"
*NickName: "Bench"
*vornFilter: "text/plain 10 passthru"
*OpenUI *PageSize/Media Size: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
PPD

cat >"$root/printers.conf" <<CONF
<Printer plain>
DeviceURI file:$work/plain.prn
State Idle
Accepting Yes
</Printer>
<Printer filtered>
DeviceURI file:$work/filtered.prn
State Idle
Accepting Yes
</Printer>
CONF

cat >"$root/vornd.conf" <<CONF
ServerRoot $root
RequestRoot $root/spool
TempDir $root/spool/tmp
ServerBin $root/bin
DataDir $root/data
ErrorLog logs/error_log
AccessLog logs/access_log
PageLog logs/page_log
ServerName localhost
User $(id -un)
Group $(id -gn)
Printcap $root/printcap
LogLevel warn
MaxJobs 0
FileDevice Yes
MaxClients 256
MaxClientsPerHost 256
Listen 127.0.0.1:$port
# Every resource open to the benchmark client on this host.
<Location />
Order deny,allow
</Location>
CONF

preload=""
if [ -n "${SLOW_SYNC_MS:-}" ]; then
  cat >"$work/slow-sync.c" <<C
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
static void nap(void) { struct timespec t = {0, ${SLOW_SYNC_MS} * 1000000L}; nanosleep(&t, 0); }
int fsync(int fd) { static int (*real)(int); if (!real) real = dlsym(RTLD_NEXT, "fsync"); nap(); return real(fd); }
int fdatasync(int fd) { static int (*real)(int); if (!real) real = dlsym(RTLD_NEXT, "fdatasync"); nap(); return real(fd); }
C
  cc -O2 -shared -fPIC -o "$work/slow-sync.so" "$work/slow-sync.c" -ldl
  preload="$work/slow-sync.so"
  echo "every fsync and fdatasync of vornd ${SLOW_SYNC_MS} ms slower"
fi
LD_PRELOAD="$preload" "$vornd" -f -c "$root/vornd.conf" >"$root/stdout" 2>&1 &
vornd_pid=$!
if ! wait_port "$port"; then
  echo "bench/jobs.sh: vornd did not start:" >&2
  cat "$root/stdout" "$root/logs/error_log" >&2 2>/dev/null || true
  exit 1
fi

# Runs one burst; prints the queue's line.
burst() {
  local printer=$1 what=$2 out
  if ! out=$(node "$here/tests/e2e/burst_client.js" "$port" "$printer" "$jobs" 8 300 "bench document"); then
    echo "bench/jobs.sh: the burst on $printer did not complete:" >&2
    echo "$out" >&2
    tail -20 "$root/logs/error_log" >&2 2>/dev/null || true
    exit 1
  fi
  awk -v what="$what" -v n="$jobs" '
    /^submit_ms/ {s = $2} /^complete_ms/ {c = $2}
    END {
      printf "%-34s %6d jobs  submitted in %6.2f s  completed in %6.2f s  %8.1f jobs/s\n",
             what, n, s / 1000, c / 1000, (c > 0 ? n * 1000 / c : 0)
    }' <<<"$out"
  cpu_line "$jobs"
}

# vornd's CPU time per job since the last call, its own and its reaped
# children's (their processes): on a busy machine, a steadier figure than
# the rate. Needs bench/queue_bench.
cpu_own=0
cpu_children=0
cpu_line() {
  local helper="$build/bench/queue_bench" out own children
  [ -x "$helper" ] || return 0
  out=$("$helper" cpu "$vornd_pid") || return 0
  own=$(sed -n 's/^cpu_ms //p' <<<"$out")
  children=$(sed -n 's/^children_cpu_ms //p' <<<"$out")
  awk -v n="$1" -v o=$((own - cpu_own)) -v c=$((children - cpu_children)) \
    'BEGIN { printf "%-34s vornd CPU per job %.2f ms, its processes %.2f ms\n", "", o / n, c / n }'
  cpu_own=$own
  cpu_children=$children
}

echo "vornd: $vornd; $jobs jobs of 15 bytes per queue, 8 connections"
burst plain "no filter, file: device"
burst filtered "one filter, file: device"

# One submit process per job, in sequence.
submit="$build/commands/submit"
waiter="$build/bench/queue_bench"
if [ ! -x "$submit" ] || [ ! -x "$waiter" ]; then
  echo "sequential submits: skipped ($submit or $waiter is missing)"
  exit 0
fi
printf 'bench document\n' >"$work/doc.txt"
t0=$(date +%s%N)
for _ in $(seq "$sequential"); do
  if ! "$submit" -h "127.0.0.1:$port" -d plain "$work/doc.txt" >/dev/null; then
    echo "bench/jobs.sh: submit failed" >&2
    exit 1
  fi
done
t1=$(date +%s%N)
"$waiter" wait-empty "$port" 300 >/dev/null
t2=$(date +%s%N)
awk -v n="$sequential" -v s="$(((t1 - t0) / 1000000))" -v c="$(((t2 - t0) / 1000000))" 'BEGIN {
  printf "%-34s %6d jobs  submitted in %6.2f s  completed in %6.2f s  %8.1f jobs/s\n",
         "one submit process per job", n, s / 1000, c / 1000, (c > 0 ? n * 1000 / c : 0)
}'
cpu_line "$sequential"
