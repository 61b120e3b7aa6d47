#!/usr/bin/env bash
# Start-up cost of the client programs: each run to a quick exit (an
# unknown option, before any connection) and qstatus to a connection
# refused on 127.0.0.1. Prints the mean wall and CPU milliseconds of the
# runs per program (perf stat), and the shared libraries it maps at start. The programs
# do not load OpenSSL until they encrypt, so it must not be among them.
#   bash bench/startup.sh [build-dir] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
runs=${2:-201}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

mkdir -p "$build"
log="$build/startup-bench-build.log"
if ! command -v perf >/dev/null; then
  echo "bench/startup.sh: perf is missing (apt-get install linux-perf)" >&2
  exit 1
fi
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target submit qstatus cancel showq >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/startup.sh: building the commands failed" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A port nothing listens on: bound, never listened to, for the whole run.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# run <label> <command...>: "label  wall-ms  cpu-ms  libraries", the means
# of `runs` runs as perf stat counts them (CPU: the task clock).
run() {
  local label=$1 wall cpu libs
  shift
  perf stat -r "$runs" -o "$work/stat" "$@" >/dev/null 2>&1 || true  # quick exits end with status 1
  cpu=$(awk '/task-clock/ { print $1; exit }' "$work/stat")
  wall=$(awk '/seconds time elapsed/ { print $1 * 1000; exit }' "$work/stat")
  libs=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  printf '%-26s %7.2f %7.2f   %s\n' "$label" "$wall" "$cpu" "$libs"
}

printf '%-26s %7s %7s   %s\n' program wall-ms cpu-ms "libraries mapped at start"
for p in submit qstatus cancel showq; do
  run "$p --bad-option" "$build/commands/$p" --bad-option
done
run "qstatus -h (refused) -o" "$build/commands/qstatus" -h "127.0.0.1:$port" -o
