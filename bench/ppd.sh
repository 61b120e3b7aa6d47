#!/usr/bin/env bash
# PPD reader timing: builds bench/ppd_bench.cc against the PPD component of a
# build tree (default build/release, made by `make build`; the two libraries
# it needs are built there when missing) and prints the figures. No pass or
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
   ! cmake --build "$build" -j2 --target vorn_ppd vorn_base >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/ppd.sh: building the PPD component failed" >&2
  exit 1
fi

ppd_lib=$(find "$build/lib" -name 'libvorn_ppd.a' | head -n1)
base_lib=$(find "$build/lib" -name 'libvorn_base.a' | head -n1)
if [ -z "$ppd_lib" ] || [ -z "$base_lib" ]; then
  echo "bench/ppd.sh: libvorn_ppd.a or libvorn_base.a not found under $build/lib" >&2
  exit 1
fi

bin="$build/bench/ppd_bench"
mkdir -p "$build/bench"
if [ ! -x "$bin" ] || [ "$here/bench/ppd_bench.cc" -nt "$bin" ] || [ "$ppd_lib" -nt "$bin" ]; then
  ${CXX:-c++} -std=c++20 -O2 -g -Wall -Wextra -I"$here/lib/include" -I"$build/include" \
    "$here/bench/ppd_bench.cc" "$ppd_lib" "$base_lib" -lz -o "$bin"
fi
"$bin" "$@"
