#!/usr/bin/env bash
# Classifies the colours of one generated scan (23622 x 8000, a metre-wide colour map at
# 600 dpi: parcels in a few dozen tints, contours, rivers, roads, labels, antialiased
# edges and sensor noise; bin/make_map_image) to 256 and to 16 colours with the control's
# palette builder, pngquant and ImageMagick, each PNG -> palette PNG, and prints wall time, peak resident memory and the
# PSNR of the mapped image against the original (ImageMagick's compare).
#
#   color_control/bench/compare-quantise.sh [--small] [--build DIR] [--work DIR] [--keep]
#
#   --small       a tenth of the size each way: a quick check
#   --build DIR   build tree holding bin/tintwell_quantise and bin/make_map_image
#                 (default build/compare, configured and built when missing)
#   --work DIR    where the images go (about 1 GB at full size)
#
# Neither competitor dithers here (pngquant --nofs, ImageMagick +dither): the builder does
# not, so the PSNR compares the palettes and their maps alone. Slow (minutes): never part
# of the test suite.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
small=0; build="$repo/build/compare"; work=""; keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --small) small=1 ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [ "$small" = 1 ]; then W=2362; H=800; else W=23622; H=8000; fi
for tool in pngquant convert compare /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare-quantise.sh: $tool is missing" >&2; exit 1; }
done

driver="$build/bin/tintwell_quantise"
maker="$build/bin/make_map_image"
if [ ! -x "$driver" ] || [ ! -x "$maker" ]; then
  echo "Building the driver in $build ..." >&2
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORB_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" --target tintwell_quantise make_map_image -j2 >/dev/null
fi
if [ -z "$work" ]; then work=$(mktemp -d "${TMPDIR:-/tmp}/orb-quantise.XXXXXX"); else mkdir -p "$work"; fi
cleanup() { if [ "$keep" = 0 ]; then rm -rf "$work"; else echo "kept $work" >&2; fi; }
trap cleanup EXIT

# ImageMagick's resource policy, raised for this size in a private file.
mkdir -p "$work/magick" "$work/magick-tmp"
cat > "$work/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="16GP"/>
  <policy domain="resource" name="disk" value="64GiB"/>
</policymap>
POLICY
export MAGICK_CONFIGURE_PATH="$work/magick" MAGICK_TEMPORARY_PATH="$work/magick-tmp"

img="$work/rgb.png"
if [ ! -f "$img" ]; then
  echo "Generating the ${W} x ${H} image in $work ..." >&2
  "$maker" "$W" "$H" "$img"
fi

run() {  # run NAME CMD... -> "seconds MB" or "failed"
  local t="$work/time.$1"; shift
  if ! /usr/bin/time -f '%e %M' -o "$t" "$@" >/dev/null 2>&1; then echo failed; return; fi
  tail -n 1 "$t" | awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }'
}
# compare answers 1 when the images differ, which they do.
psnr() { { compare -metric PSNR "$img" "$1" null: 2>&1 || true; } | awk '{ print $1 }'; }

printf '\nImage %s x %s; %s cores; %s; pngquant %s\n' "$W" "$H" "$(nproc)" \
  "$(convert -version | head -n1 | awk '{print $2, $3}')" "$(pngquant --version | awk '{print $1}')"
fmt='%-8s %-12s %9s %8s %8s\n'
printf "$fmt" colours tool seconds "peak MB" "PSNR dB"
for n in 256 16; do
  for tool in tintwell pngquant imagemagick; do
    out="$work/$tool-$n.png"
    case $tool in
      tintwell) r=$(run "$tool-$n" "$driver" "$img" "$out" "$n") ;;
      pngquant) r=$(run "$tool-$n" pngquant --nofs --force --output "$out" "$n" "$img") ;;
      imagemagick) r=$(run "$tool-$n" convert "$img" +dither -colors "$n" "PNG8:$out") ;;
    esac
    read -r t m <<<"$r"
    p=-; [ -f "$out" ] && p=$(psnr "$out")
    printf "$fmt" "$n" "$tool" "$t" "${m:--}" "$p"
    rm -f "$out"
  done
done
