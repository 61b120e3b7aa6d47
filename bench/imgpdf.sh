#!/usr/bin/env bash
# imgconv, pdfconv and unzipconv against the Debian tools doing the same
# work, taken in turns in one run; prints the median wall and cpu seconds of
# each pair and their ratio. No pass or fail. Targets: imgconv at least as
# fast as netpbm's pnmtops on a 4000 x 3000 image, pdfconv within 1.1 x of
# pdftops on a 200-page PDF, unzipconv within 1.1 x of gzip -dc on 10 MB of
# gzip'd text.
#   bash bench/imgpdf.sh [build-dir] [runs]
# pnmtops comes with netpbm, pdftops with poppler-utils (.ci/install-deps).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/timing.bash"
build=${1:-build/release}
runs=${2:-5}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

for tool in pnmtops pdftops gzip python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "bench/imgpdf.sh: $tool is missing (.ci/install-deps installs it)" >&2
    exit 1
  fi
done

mkdir -p "$build"
log="$build/imgpdf-bench-build.log"
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target imgconv pdfconv unzipconv >>"$log" 2>&1; then
  cat "$log" >&2
  echo "bench/imgpdf.sh: building the filters failed" >&2
  exit 1
fi
filters="$build/filter"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 4000 x 3000 PPM with gradients (no long runs of equal bytes).
python3 - "$work/big.ppm" <<'PY'
import sys
w, h = 4000, 3000
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    row = bytearray(w * 3)
    for y in range(h):
        for x in range(w):
            row[3 * x] = x & 255
            row[3 * x + 1] = y & 255
            row[3 * x + 2] = (x + y) & 255
        f.write(row)
PY

# A 200-page PDF: text and a filled shape on every page.
python3 - "$work/doc.pdf" <<'PY'
import sys
n = 200
objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % (4 + 2 * i) for i in range(n)) + b"] /Count %d >>" % n,
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
for i in range(n):
    objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                b"/Contents %d 0 R >>" % (5 + 2 * i))
    lines = b"".join(b"BT /F1 10 Tf 72 %d Td (Page %d line %d of the benchmark document) Tj ET\n" % (740 - 12 * k, i + 1, k)
                     for k in range(50))
    s = b"0.2 0.4 0.8 rg 100 100 %d 50 re f\n" % (100 + i) + lines
    objs.append(b"<< /Length %d >>\nstream\n" % len(s) + s + b"\nendstream")
out = bytearray(b"%PDF-1.4\n")
offs = []
for i, o in enumerate(objs):
    offs.append(len(out))
    out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
x = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for o in offs:
    out += b"%010d 00000 n \n" % o
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, x)
open(sys.argv[1], "wb").write(out)
PY

# 10 MB of text, gzip'd.
awk 'BEGIN { size = 0; n = 0
  while (size < 10 * 1024 * 1024) { n++
    line = sprintf("%7d  The quick brown fox jumps over the lazy dog %d times.", n, n % 89)
    print line; size += length(line) + 1 } }' | gzip -6 >"$work/text.gz"

# Colour PostScript Level 2 from both sides: imgconv without a PPD writes
# Level 1 hex, so it is given a colour Level 2 PPD; pnmtops -level 2 -rle
# would compress, so both write uncompressed ASCII data.
cat >"$work/colour.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "BENCH.PPD"
*Manufacturer: "Vorn"
*ModelName: "Vorn Bench"
*NickName: "Vorn Bench"
*LanguageLevel: "2"
*ColorDevice: True
*OpenUI *PageSize: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: Letter
*PageSize Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*CloseUI: *PageSize
*ImageableArea Letter: "18 36 594 756"
*PaperDimension Letter: "612 792"
PPD

run_pair() {  # name, our command (string), their command (string)
  local name=$1 ours=$2 theirs=$3
  : >"$work/ours" ; : >"$work/theirs"
  for _ in $(seq "$runs"); do
    once bash -c "$ours" >>"$work/ours"
    once bash -c "$theirs" >>"$work/theirs"
  done
  read -r ow oc <<<"$(median "$work/ours")"
  read -r tw tc <<<"$(median "$work/theirs")"
  printf '%-10s %8.3f s wall %8.3f s cpu | %-9s %8.3f s wall %8.3f s cpu | ratio %.2f (wall), %.2f (cpu)\n' \
    "$name" "$ow" "$oc" "$4" "$tw" "$tc" "$(echo "$ow / $tw" | bc -l)" "$(echo "$oc / $tc" | bc -l)"
}

echo "median of $runs runs each, in turns"
run_pair imgconv "PPD=$work/colour.ppd $filters/imgconv 1 u t 1 '' $work/big.ppm >/dev/null" \
  "pnmtops -level 2 -nocenter -noturn $work/big.ppm >/dev/null" pnmtops
run_pair pdfconv "$filters/pdfconv 1 u t 1 '' $work/doc.pdf >/dev/null" \
  "pdftops -level2 $work/doc.pdf - >/dev/null" pdftops
run_pair unzipconv "$filters/unzipconv 1 u t 1 '' $work/text.gz >/dev/null" \
  "gzip -dc $work/text.gz >/dev/null" gzip
