#!/usr/bin/env bash
# A batch of grey A0 scans at 300 dpi (9449 x 13362) thresholded, despeckled and saved as
# Group 4 TIFF: the batch engine (bin/batch_run over a .bch file) against ImageMagick's
# mogrify over the same files and against a shell loop over vips. Each runs as a whole
# process, in turns; the table gives median wall time and peak resident memory
# (/usr/bin/time -v) and the ratios to ours.
#
#   bench/batch/compare-batch.sh [--files N] [--turns N] [--build DIR] [--work DIR]
#   bench/batch/compare-batch.sh --prepare DIR   # only the inputs and the three commands
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
files=20
turns=3
build="$repo/build/plain"
work=""
prepare_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files=$2; shift ;;
    --turns) turns=$2; shift ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --prepare) prepare_only=1; work=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for tool in vips mogrify /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
for p in batch_run make_test_image; do
  [ -x "$build/bin/$p" ] || { echo "missing $build/bin/$p (build the tree first)" >&2; exit 1; }
done
if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/batch-compare.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/in" "$work/ours" "$work/im" "$work/vips" "$work/tmp"
[ -f "$work/grey.tif" ] || "$build/bin/make_test_image" 9449 13362 "$work" >/dev/null
rm -f "$work/rgb.tif" "$work/bilevel.tif"
# The scans: links to one page, so that twenty A0 pages cost no disk.
for i in $(seq -w 1 "$files"); do ln -sf "$work/grey.tif" "$work/in/scan$i.tif"; done

# Ours: fixed threshold at the middle of the grey scale (level 25: 255 - 5 * 25 = 130), a
# despeckle of specks up to 3 pixels, Group 4 TIFF into ours/.
{
  printf '[General]\r\nHoldForQC=0\r\nCreateLog=1\r\nSaveAsLocation=%s\r\nSaveAsFormat=tif-g4\r\n' "$work/ours"
  printf 'DeleteOriginalFiles=0\r\n[Files]\r\n'
  n=0
  for f in "$work"/in/*.tif; do printf 'File%d=%s\r\n' "$n" "$f"; n=$((n + 1)); done
  printf '[Palette]\r\nConvertTo=4\r\n[BinaryThreshold]\r\nThresholdingType=0\r\nFixedThreshhold=25\r\n'
  printf '[BinaryDespeckle]\r\nSpeckWidth=3\r\nSpeckHeight=3\r\n'
} >"$work/batch.bch"
cat >"$work/ours.sh" <<EOS
#!/bin/sh
rm -f "$work/batch.log"
exec "$build/bin/batch_run" "$work/batch.bch" "$work/tmp"
EOS
# ImageMagick: the same threshold, a 3 x 3 median for the specks, Group 4. Debian's policy
# refuses an A0 page at 300 dpi; the limits are raised for this run only.
mkdir -p "$work/magick"
cat >"$work/magick/policy.xml" <<'EOS'
<policymap>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
EOS
cat >"$work/im.sh" <<EOS
#!/bin/sh
MAGICK_CONFIGURE_PATH="$work/magick" exec mogrify -path "$work/im" -threshold 51% -statistic median 3x3 -monochrome -compress Group4 "$work"/in/*.tif
EOS
# vips: threshold, 3 x 3 median, Group 4, one process per step and file.
cat >"$work/vips.sh" <<EOS
#!/bin/sh
set -e
for f in "$work"/in/*.tif; do
  b=\$(basename "\$f")
  vips relational_const "\$f" "$work/tmp/t.v" moreeq 130
  vips rank "$work/tmp/t.v" "$work/tmp/m.v" 3 3 4
  vips tiffsave "$work/tmp/m.v" "$work/vips/\$b" --compression ccittfax4 --bitdepth 1
done
rm -f "$work/tmp/t.v" "$work/tmp/m.v"
EOS
chmod +x "$work/ours.sh" "$work/im.sh" "$work/vips.sh"
if [ "$prepare_only" = 1 ]; then
  echo "prepared: $work/ours.sh $work/im.sh $work/vips.sh"
  exit 0
fi

run() {
  /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
  awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]}
              /Maximum resident set size/ {m=$2/1024} END {printf "%.2f %.0f\n", s, m}' "$work/time.txt"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
declare -A secs mem
for t in $(seq "$turns"); do
  for who in ours im vips; do
    read -r s m < <(run "$work/$who.sh")
    secs[$who]+="$s "
    mem[$who]+="$m "
  done
done
printf '%-6s %10s %10s %12s %12s\n' tool seconds peak_MB time/ours mem/ours
for who in ours im vips; do
  s=$(echo "${secs[$who]}" | tr ' ' '\n' | grep . | median)
  m=$(echo "${mem[$who]}" | tr ' ' '\n' | grep . | median)
  [ "$who" = ours ] && { s0=$s; m0=$m; }
  printf '%-6s %10s %10s %12.2f %12.2f\n' "$who" "$s" "$m" "$(echo "$s / $s0" | bc -l)" "$(echo "$m / $m0" | bc -l)"
done
# Every output is read back.
for f in "$work"/ours/*.tif; do tiffinfo "$f" 2>/dev/null | grep -q "CCITT Group 4" || { echo "bad $f" >&2; exit 1; }; done
