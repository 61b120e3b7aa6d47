#!/usr/bin/env bash
# Throughput of the raster drivers: 1,000 raster pages of 300 dpi Letter
# (2550 x 3300 dots), black at one bit and four-ink colour (banded KCMY),
# through pcldrv and escpdrv, beside `cat` of the same stream as the floor.
# The pages look like printed text: blank margins and gaps between lines,
# inked rows of short runs and noise. Each run reads the stream from one
# generator process on a pipe, so the generator's cost is in the floor too.
# Prints pages per second, MB/s of raster read and the ratio to cat (the aim
# is each driver within 3x of cat); no pass or fail on them.
#   bash bench/drivers.sh [build-dir]     (default build/release)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$here/$build" ;; esac
pages=${PAGES:-1000}
for prog in pcldrv escpdrv; do
  if [ ! -x "$build/filter/$prog" ]; then
    echo "bench/drivers.sh: $build/filter/$prog is missing: build it first" >&2
    exit 1
  fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# PPDs: a PCL laser (model 0) and an ESC/P2 inkjet (model 2), PackBits on.
cp "$here/data/model/vorn-pcl-laser.ppd" "$tmp/pcl.ppd"
cp "$here/data/model/vorn-escp2-inkjet.ppd" "$tmp/escp.ppd"

# gen.py MODE RES: the raster stream on standard output.
cat > "$tmp/gen.py" <<'PY'
import random, struct, sys
mode, res, pages, comp = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
w, h = 2550 * res // 300, 3300 * res // 300
cs, planes = (3, 1) if mode == "mono" else (8, 4)
pb = (w + 7) // 8
bpl = pb * planes
fields = [0, 0, 0, 0, res, res, 0, 0, 0, 0, 0, 0, 0, 1, 612, 792,
          w, h, 0, 1, 1, bpl, 1 if planes > 1 else 0, cs, comp, 0, 0, 0]
head = b"VRST" + b"\0" * 256 + b"".join(struct.pack(">I", v) for v in fields)
rnd = random.Random(1)
def text_row():
    row = bytearray(pb)
    x = pb // 10
    while x < pb - pb // 10:
        n = rnd.randint(2, 12)
        for i in range(x, min(x + n, pb)):
            row[i] = rnd.choice((0xFF, 0x00, rnd.getrandbits(8), 0x3C))
        x += n + rnd.randint(1, 4)
    return bytes(row)
rows = []
blank = bytes(bpl)
for y in range(h):
    line = y % 50
    if y < h // 12 or y > h - h // 12 or line >= 30:
        rows.append(blank)
    else:
        # colour pages ink some planes of a row, not all
        rows.append(b"".join(text_row() if (p + y // 50) % 2 == 0 or planes == 1 else bytes(pb)
                             for p in range(planes)))
page = head + b"".join(rows)
out = sys.stdout.buffer
for _ in range(pages):
    out.write(page)
out.flush()
PY

# run LABEL COMMAND...: seconds for the stream of $mode through COMMAND.
run() {
  local start end
  start=$(date +%s.%N)
  python3 "$tmp/gen.py" "$mode" 300 "$pages" "$comp" | "$@" > /dev/null 2> "$tmp/err"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

printf "%-6s %-8s %10s %10s %10s %8s\n" stream program seconds pages/s MB/s "x cat"
for mode in mono colour; do
  comp=2
  bytes=$(python3 "$tmp/gen.py" "$mode" 300 1 "$comp" | wc -c)
  mb=$(echo "$bytes * $pages / 1000000" | bc -l)
  floor=$(run cat)
  printf "%-6s %-8s %10.2f %10.1f %10.1f %8s\n" "$mode" cat "$floor" "$(echo "$pages / $floor" | bc -l)" \
    "$(echo "$mb / $floor" | bc -l)" 1.00
  comp=2
  t=$(PPD="$tmp/pcl.ppd" run "$build/filter/pcldrv" 1 bench bench 1 "")
  printf "%-6s %-8s %10.2f %10.1f %10.1f %8.2f\n" "$mode" pcldrv "$t" "$(echo "$pages / $t" | bc -l)" \
    "$(echo "$mb / $t" | bc -l)" "$(echo "$t / $floor" | bc -l)"
  comp=1
  t=$(PPD="$tmp/escp.ppd" run "$build/filter/escpdrv" 1 bench bench 1 "")
  printf "%-6s %-8s %10.2f %10.1f %10.1f %8.2f\n" "$mode" escpdrv "$t" "$(echo "$pages / $t" | bc -l)" \
    "$(echo "$mb / $t" | bc -l)" "$(echo "$t / $floor" | bc -l)"
done
