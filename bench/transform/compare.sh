#!/usr/bin/env bash
# Times the transform tools against libvips and ImageMagick on the generated image of a
# 1 m wide scan at 600 dpi (23622 x LINES pixels, colour and bilevel), each file -> file
# between uncompressed TIFFs, as whole processes with /usr/bin/time -v (elapsed seconds and
# peak resident memory). Run it at two lengths to see that the peak memory does not grow
# with the length.
#
#   bench/transform/compare.sh [LINES] [BUILD_DIR] [WORK_DIR]     (default 8000)
#
#   rotate-90 colour / bilevel   vs  vips rot IN OUT d90
#   deskew 0.7 degree bilevel    angle search (ours) vs convert -deskew 40%,
#                                rotation (ours) vs vips rotate
#   reduce to half colour        vs  vips resize IN OUT 0.5
#
# Slow (minutes, mostly ImageMagick) and needs several GB in WORK_DIR: never part of the
# test suite.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
lines=${1:-8000}
build=${2:-$repo/build/plain}
work=${3:-$(mktemp -d)}
driver="$build/bin/transform_driver"
maker="$build/bin/make_test_image"
[ -x "$driver" ] && [ -x "$maker" ] || cmake --build "$build" --target transform_driver make_test_image -j2 >/dev/null
mkdir -p "$work"
[ -f "$work/rgb.tif" ] || "$maker" 23622 "$lines" "$work" >/dev/null

run() {  # label, command...
  local label=$1
  shift
  /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null || { echo "$label: failed"; return; }
  local s m
  s=$(awk -F': ' '/Elapsed/ {n = split($2, t, ":"); v = 0; for (i = 1; i <= n; i++) v = v * 60 + t[i]; print v}' "$work/time.txt")
  m=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/time.txt")
  printf '%-34s %8s s %8s MB\n' "$label" "$s" "$m"
}

echo "23622 x $lines"
run "ours rotate-90 colour" "$driver" rotate-right "$work/rgb.tif" "$work/o.tif"
run "vips rot d90 colour" vips rot "$work/rgb.tif" "$work/v.tif" d90
run "ours rotate-90 bilevel" "$driver" rotate-right "$work/bilevel.tif" "$work/o.tif"
run "vips rot d90 bilevel" vips rot "$work/bilevel.tif" "$work/v.tif" d90
# The tilted scan: our own rotation of the bilevel page by 0.7 degree.
"$driver" deskew 0.7 "$work/bilevel.tif" "$work/tilted.tif"
run "ours measure (angle search)" "$driver" measure "$work/tilted.tif"
"$driver" measure "$work/tilted.tif"
run "convert -deskew 40%" env MAGICK_AREA_LIMIT=16GP MAGICK_MEMORY_LIMIT=8GiB MAGICK_DISK_LIMIT=32GiB \
  convert "$work/tilted.tif" -deskew 40% -compress none "$work/m.tif"
run "ours deskew rotation" "$driver" deskew -0.7 "$work/tilted.tif" "$work/o.tif"
run "vips rotate" vips rotate "$work/tilted.tif" "$work/v.tif" -0.7
run "ours reduce to half colour" "$driver" reduce "$(( $(tiffinfo "$work/rgb.tif" | awk -F"[ ,]+" "/Resolution/ {print int(\$3)}") / 2 ))" "$work/rgb.tif" "$work/o.tif"
run "vips resize 0.5 colour" vips resize "$work/rgb.tif" "$work/v.tif" 0.5
rm -f "$work/o.tif" "$work/v.tif" "$work/m.tif" "$work/time.txt"
