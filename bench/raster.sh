#!/usr/bin/env bash
# Raster filter timing: a 4000 × 3000 PNG through imgraster at 300 and 600
# dpi, and 100 pages of text through psraster at 300 dpi, next to the
# WebAssembly Ghostscript alone rendering the same pages to PNG (the share
# of psraster's time that is the interpreter's). Seconds, wall clock; no
# pass or fail on time.
#   bash bench/raster.sh [build-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

mkdir -p "$build"
log="$build/raster-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target imgraster psraster >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/raster.sh: building imgraster and psraster failed" >&2
  exit 1
fi
for tool in pnmtopng node python3; do
  command -v "$tool" >/dev/null || { echo "bench/raster.sh: $tool is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ppd="$here/data/model/vorn-raster.ppd"
runner="$here/tests/fixtures/render/gs-run.mjs"

# A 4000 × 3000 colour picture with gradients (so PNG cannot shrink it to
# nothing), at 400 pixels per inch: 10 × 7.5 inches, which turns to fit.
python3 - "$work/big.ppm" <<'PY'
import sys
w, h = 4000, 3000
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    row = bytearray(w * 3)
    for y in range(h):
        for x in range(w):
            row[3 * x] = (x * 255) // w
            row[3 * x + 1] = (y * 255) // h
            row[3 * x + 2] = ((x ^ y) & 0xFF)
        f.write(row)
PY
pnmtopng -size '15748 15748 1' "$work/big.ppm" > "$work/big.png"

seconds() {  # seconds OUT ERR command...: runs the command, its output to the
             # two files, and prints its wall-clock seconds
  local out=$1 err=$2 start end
  shift 2
  start=$(date +%s.%N)
  "$@" >"$out" 2>"$err"
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.2f}')"
}

for dpi in 300 600; do
  for model in Gray RGB; do
    t=$(seconds "$work/out.ras" /dev/null env PPD="$ppd" "$build/filter/imgraster" 1 bench bench 1 \
        "Resolution=${dpi}dpi ColorModel=$model" "$work/big.png")
    size=$(stat -c %s "$work/out.ras")
    echo "imgraster 4000x3000 PNG, ${dpi} dpi, ColorModel $model: ${t} s (${size} bytes of raster)"
  done
done

# 100 pages of text in Courier.
python3 - "$work/text.ps" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("%!PS-Adobe-3.0\n%%Pages: 100\n/Courier findfont 10 scalefont setfont\n")
    for p in range(1, 101):
        f.write(f"%%Page: {p} {p}\n")
        for line in range(60):
            y = 740 - line * 12
            f.write(f"36 {y} moveto (Page {p} line {line}: the quick brown fox jumps over the lazy dog 0123456789) show\n")
        f.write("showpage\n")
    f.write("%%EOF\n")
PY
t=$(seconds "$work/text.ras" "$work/psraster.err" env PPD="$ppd" VORN_PSRASTER_COMMAND="node $runner" \
    "$build/filter/psraster" 1 bench bench 1 "Resolution=300dpi" "$work/text.ps")
pages=$(grep -c '^PAGE:' "$work/psraster.err" || true)
echo "psraster 100 text pages, 300 dpi, black 1 bit: ${t} s (${pages} pages)"
mkdir -p "$work/png"
t=$(seconds /dev/null /dev/null node "$runner" -q -dNOPAUSE -dBATCH -sDEVICE=pnggray -r300 -dDEVICEWIDTHPOINTS=612 \
    -dDEVICEHEIGHTPOINTS=792 -dFIXEDMEDIA "-sOutputFile=$work/png/p-%d.png" "$work/text.ps")
echo "WebAssembly Ghostscript alone, same pages to PNG at 300 dpi: ${t} s ($(ls "$work/png" | wc -l) files)"
