#!/usr/bin/env bash
# PPD reader timing: builds bench/ppd_bench.cc in a build tree (default
# build/release, made by `make build`) and prints the figures. No pass or
# fail on time.
#   bash bench/ppd.sh [build-dir] [options [choices [constraints]]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
shift || true
case "$build" in /*) ;; *) build="$here/$build" ;; esac

mkdir -p "$build"
log="$build/ppd-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target ppd_bench >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/ppd.sh: building ppd_bench failed" >&2
  exit 1
fi

bin="$build/bench/ppd_bench"
"$bin" "$@"
