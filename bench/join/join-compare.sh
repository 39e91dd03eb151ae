#!/usr/bin/env bash
# Times the join tool's writer (bin/join_files: the program's join of items into one
# uncompressed TIFF) against `vips arrayjoin` on the same four uncompressed colour pieces of
# a metre-wide 600 dpi scan (23622 pixels wide), side by side and two by two. Each command
# runs as a whole process, in turns (ours, vips, ours, ...); the table gives median wall
# time and peak resident memory (/usr/bin/time -v) and their ratios ours / vips (below 1:
# ours is faster or smaller).
#
#   bench/join/join-compare.sh [--lines N] [--turns N] [--build DIR] [--work DIR]
#
#   --lines N   length of each piece (default 8000; run 16000 too to see that memory stays flat)
#   --turns N   turns per layout (default 3)
#   --build DIR build tree holding bin/join_files and bin/make_test_image (default build/plain)
#   --work DIR  where the images go (default a fresh folder under $TMPDIR or /tmp)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
lines=8000
turns=3
build="$repo/build/plain"
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines=$2; shift ;;
    --turns) turns=$2; shift ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for tool in vips /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
for p in join_files make_test_image; do
  [ -x "$build/bin/$p" ] || { echo "missing $build/bin/$p (build the tree first)" >&2; exit 1; }
done
if [ -z "$work" ]; then work=$(mktemp -d "${TMPDIR:-/tmp}/join-compare.XXXXXX"); fi
trap 'rm -rf "$work"' EXIT
"$build/bin/make_test_image" 23622 "$lines" "$work" >/dev/null
# Four different pieces: the page, mirrored, upside down and both.
vips copy "$work/rgb.tif" "$work/p1.tif"
vips flip "$work/rgb.tif" "$work/p2.tif" horizontal
vips flip "$work/rgb.tif" "$work/p3.tif" vertical
vips rot "$work/rgb.tif" "$work/p4.tif" d180
rm -f "$work/rgb.tif" "$work/grey.tif" "$work/bilevel.tif"
pieces="$work/p1.tif $work/p2.tif $work/p3.tif $work/p4.tif"

# Wall seconds and peak kilobytes of one whole-process run.
measure() {
  local log="$work/time.log"
  /usr/bin/time -v "$@" >/dev/null 2>"$log"
  local wall kb
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$log")
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  echo "$wall $kb"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

printf "%-14s %10s %10s %10s %10s %8s %8s\n" layout ours_s vips_s ours_MB vips_MB time mem
for layout in "side-by-side 4" "two-by-two 2"; do
  set -- $layout
  name=$1 across=$2
  : >"$work/ours" ; : >"$work/vips"
  for ((t = 0; t < turns; t++)); do
    measure "$build/bin/join_files" "$work/ours.tif" "$across" $pieces >>"$work/ours"
    measure vips arrayjoin "$pieces" "$work/vips.tif" --across "$across" >>"$work/vips"
  done
  # Both wrote the same picture.
  [ "$(vips avg "$work/ours.tif")" = "$(vips avg "$work/vips.tif")" ] || echo "warning: outputs differ" >&2
  ot=$(awk '{print $1}' "$work/ours" | median); vt=$(awk '{print $1}' "$work/vips" | median)
  om=$(awk '{print $2}' "$work/ours" | median); vm=$(awk '{print $2}' "$work/vips" | median)
  awk -v n="$name" -v ot="$ot" -v vt="$vt" -v om="$om" -v vm="$vm" 'BEGIN {
    printf "%-14s %10.2f %10.2f %10.1f %10.1f %8.2f %8.2f\n", n, ot, vt, om/1024, vm/1024, ot/vt, om/vm }'
  rm -f "$work/ours.tif" "$work/vips.tif"
done
