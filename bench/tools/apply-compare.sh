#!/usr/bin/env bash
# Times the tools' apply pipeline (bin/tool_apply: read stream -> filter chain -> write
# stream, as the program's Apply runs it) against the filter's own streaming driver
# (bin/filter_driver: a reader thread, the bare filter, a writer thread, no pipeline) and
# against vips doing the same operation, all between uncompressed TIFF files, on a
# generated grey page of a metre-wide 600 dpi scan (23622 pixels wide; it names its
# resolution, so the program reads it directly as its raw lines). Each command runs as a
# whole process, in turns (ours, driver, vips, ours, ...); the table gives median wall time
# and peak resident memory (/usr/bin/time -v), the pipeline's overhead over the driver
# (ours / driver - 1) and the ratios ours / vips (below 1: ours is faster or smaller).
#
#   bench/tools/apply-compare.sh [--lines N] [--turns N] [--build DIR] [--work DIR]
#
#   --lines N   image length (default 8000; run 32000 too to see that memory stays flat)
#   --turns N   turns per operation (default 3)
#   --build DIR build tree holding bin/tool_apply, bin/filter_driver and bin/make_test_image
#               (default build/plain)
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
for p in tool_apply filter_driver make_test_image; do
  [ -x "$build/bin/$p" ] || { echo "missing $build/bin/$p (build the tree first)" >&2; exit 1; }
done
if [ -z "$work" ]; then work=$(mktemp -d "${TMPDIR:-/tmp}/apply-compare.XXXXXX"); fi
trap 'rm -rf "$work"' EXIT
"$build/bin/make_test_image" 23622 "$lines" "$work" >/dev/null
# The sharpen anchor convolves with the pipeline's 3 x 3 kernel at level 5.
printf '3 3 2 0\n-1 -1 -1\n-1 10 -1\n-1 -1 -1\n' >"$work/sharpen.mat"

# One run: prints "seconds peak_MB".
run() {
  /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
  awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]}
              /Maximum resident set size/ {m=$2/1024} END {printf "%.2f %.0f\n", s, m}' "$work/time.txt"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

printf '%-20s %7s %5s %8s %8s %7s %5s %7s %7s\n' operation "ours s" MB "driver s" overhead "vips s" MB "t ratio" "m ratio"
# compare NAME INPUT VIPS_COMMAND [nodriver]   (IN and OUT stand for the files; "-": no
# vips column; nodriver: the driver has no such operation)
compare() {
  local name=$1 input=$2 vcmd=$3 driver=${4:-driver}
  local ot=() om=() dt=() vt=() vm=()
  for _ in $(seq "$turns"); do
    read -r t m <<<"$(run "$build/bin/tool_apply" "$name" "$work/$input" "$work/ours.tif")"
    ot+=("$t"); om+=("$m")
    if [ "$driver" = driver ]; then
      read -r t m <<<"$(run "$build/bin/filter_driver" "$name" "$work/$input" "$work/driver.tif")"
      dt+=("$t")
    fi
    if [ "$vcmd" != "-" ]; then
      read -r t m <<<"$(run $(echo "$vcmd" | sed "s#IN#$work/$input#; s#OUT#$work/vips.tif#"))"
      vt+=("$t"); vm+=("$m")
    fi
    rm -f "$work/ours.tif" "$work/driver.tif" "$work/vips.tif"
  done
  local a b d
  a=$(printf '%s\n' "${ot[@]}" | median); b=$(printf '%s\n' "${om[@]}" | median)
  local over=- d=-
  if [ "$driver" = driver ]; then
    d=$(printf '%s\n' "${dt[@]}" | median)
    over=$(printf '%+.0f%%' "$(echo "($a / $d - 1) * 100" | bc -l)")
  fi
  if [ "$vcmd" = "-" ]; then
    printf '%-20s %7s %5s %8s %8s %7s %5s %7s %7s\n' "$name" "$a" "$b" "$d" "$over" - - - -
    return
  fi
  local c e
  c=$(printf '%s\n' "${vt[@]}" | median); e=$(printf '%s\n' "${vm[@]}" | median)
  printf '%-20s %7s %5s %8s %8s %7s %5s %7.2f %7.2f\n' "$name" "$a" "$b" "$d" "$over" "$c" "$e" \
    "$(echo "$a / $c" | bc -l)" "$(echo "$b / $e" | bc -l)"
}
compare brightness-contrast grey.tif "vips linear --uchar -- IN OUT 1.4286 -3.3"
compare sharpen grey.tif "vips conv IN OUT $work/sharpen.mat --precision integer"
compare despeckle bilevel.tif -
compare invert grey.tif "vips invert IN OUT" nodriver
compare mirror grey.tif "vips flip IN OUT horizontal" nodriver
echo "Image 23622 x $lines; $(nproc) cores; $turns turns, medians; the pipeline's overhead is its time over the driver's"
