#!/usr/bin/env bash
# Times the engine's streaming operations against libvips and ImageMagick on one generated
# image the size of a 1 m wide scan at 600 dpi (23622 x 8000 pixels; RGB, grey and bilevel
# variants), each file -> operation -> file. Every command runs as a whole process, in turns
# (ours, vips, ImageMagick, ours, ...), so that a drifting machine moves both sides of a
# ratio alike; the table gives the medians of the times, of the peak resident memory and of
# the per-turn ratios ours / theirs (below 1: ours is faster or smaller). A single run is
# not a measurement on a shared machine.
#
# Each anchor does the work ours does: brightness-contrast and the black/white points are
# the same linear map, the sharpen anchors convolve with our 3 x 3 kernel (level 5: centre
# 5, neighbours -0.5; `vips sharpen` would be an unsharp mask in another colour space).
#
#   bench/compare.sh [--small] [--turns N] [--only REGEX] [--vips-only] [--build DIR] [--work DIR] [--keep]
#
#   --small       a tenth of the size each way (2362 x 800): a quick check, seconds
#   --turns N     turns per operation (default 3)
#   --only REGEX  only the operations whose name matches
#   --vips-only   leave ImageMagick out (at full size it takes minutes a turn); its columns show -
#   --build DIR   build tree holding bin/filter_driver and bin/make_test_image (default
#                 build/compare, configured and built when the programs are missing)
#   --work DIR    where the images go (default a fresh folder under $TMPDIR or /tmp; the
#                 full-size run needs about 3 GB there)
#   --keep        keep the images and results
#
# Slow (minutes at full size, mostly ImageMagick): never part of the test suite.
# ImageMagick's resource policy is raised for this size through a private policy file
# (MAGICK_CONFIGURE_PATH); the system's files are not touched.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
small=0
turns=3
only=""
build="$repo/build/compare"
work=""
keep=0
magick=1
while [ $# -gt 0 ]; do
  case "$1" in
    --small) small=1 ;;
    --turns) turns=$2; shift ;;
    --only) only=$2; shift ;;
    --vips-only) magick=0 ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,28p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$small" = 1 ]; then W=2362; H=800; else W=23622; H=8000; fi

for tool in vips convert /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing" >&2; exit 1; }
done

driver="$build/bin/filter_driver"
maker="$build/bin/make_test_image"
if [ ! -x "$driver" ] || [ ! -x "$maker" ]; then
  echo "Building the driver in $build ..." >&2
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORB_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" --target filter_driver make_test_image -j4 >/dev/null
fi

if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/orb-compare.XXXXXX")
else
  mkdir -p "$work"
fi
cleanup() { if [ "$keep" = 0 ]; then rm -rf "$work"; else echo "kept $work" >&2; fi; }
trap cleanup EXIT

mkdir -p "$work/magick" "$work/magick-tmp"
cat > "$work/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="16GP"/>
  <policy domain="resource" name="disk" value="64GiB"/>
</policymap>
POLICY
export MAGICK_CONFIGURE_PATH="$work/magick"
export MAGICK_TEMPORARY_PATH="$work/magick-tmp"

echo "Generating the ${W} x ${H} test images in $work ..." >&2
"$maker" "$W" "$H" "$work"

# run NAME CMD...: prints "seconds kilobytes", "failed" or "n/a" (not built).
run() {
  local name=$1; shift
  local t="$work/time.$name"
  local rc=0
  timeout 1800 /usr/bin/time -f '%e %M' -o "$t" "$@" >"$work/log.$name" 2>&1 || rc=$?
  if [ "$rc" = 3 ] && grep -q 'is not built' "$work/log.$name"; then echo "n/a"; return; fi
  if [ "$rc" != 0 ]; then echo "failed"; return; fi
  tail -n 1 "$t"
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
med() { { printf '%s\n' "$@" | grep -v '^$' || true; } | median; }
s2() { local m; m=$(med "$@"); [ "$m" = - ] && echo - || awk -v s="$m" 'BEGIN { printf "%.2f", s }'; }
mb() { local m; m=$(med "$@"); [ "$m" = - ] && echo - || awk -v k="$m" 'BEGIN { printf "%.0f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) print a / b }'; }

# Our sharpen kernel at level 5 (see engine/filters/Sharpen.h): out = c - (s - 8c) / 2 for
# the 8 neighbours' sum s, that is (10c - s) / 2.
printf '3 3 2 0\n-1 -1 -1\n-1 10 -1\n-1 -1 -1\n' >"$work/sharpen.mat"

rows=()
# name | input | vips command (or -) | ImageMagick command (or -), OUT is the output file.
pair() { rows+=("$1|$2|$3|$4"); }
pair brightness-contrast rgb.tif "vips linear --uchar -- IN OUT 1.4286 -3.3" "-"
pair bw-point            rgb.tif "vips linear --uchar -- IN OUT 1.4167 -56.7" "-"
pair threshold           grey.tif "vips relational_const IN OUT moreeq 128" "-"
pair median-3            rgb.tif "vips rank IN OUT 3 3 4" "convert IN -median 3 OUT"
pair sharpen             rgb.tif "vips conv IN OUT $work/sharpen.mat --precision integer" \
  "convert IN -morphology Convolve 3x3:-0.5,-0.5,-0.5,-0.5,5,-0.5,-0.5,-0.5,-0.5 OUT"
pair resize-half         rgb.tif "vips resize IN OUT 0.5 --kernel lanczos3" "convert IN -filter Lanczos -resize 50% OUT"
pair adaptive-threshold  grey.tif "-" "convert IN -lat 25x25-5% OUT"
pair error-diffusion     grey.tif "-" "convert IN -dither FloydSteinberg -monochrome OUT"
pair quantise-256        rgb.tif "-" "convert IN +dither -colors 256 OUT"
pair despeckle           bilevel.tif "-" "-"

expand() {  # expand TEMPLATE IN OUT -> words
  local s=${1//IN/$2}
  echo "${s//OUT/$3}"
}

printf '\nImage %s x %s; %s cores; libvips %s; %s; %s turns, medians\n' "$W" "$H" "$(nproc)" \
  "$(vips --version | awk '{print $1}' | sed 's/vips-//')" "$(convert -version | head -n1 | awk '{print $2, $3}')" "$turns"
printf 'Times in seconds, peak resident memory in MB; ratio = ours / theirs, the median of the turns.\n\n'
fmt='%-20s %8s %6s | %8s %6s %7s %7s | %8s %6s %7s %7s\n'
printf "$fmt" operation "ours s" MB "vips s" MB "t ratio" "m ratio" "IM s" MB "t ratio" "m ratio"
printf '%s\n' "------------------------------------------------------------------------------------------------------"
for row in "${rows[@]}"; do
  IFS='|' read -r name input vcmd icmd <<<"$row"
  if [ -n "$only" ] && ! echo "$name" | grep -Eq "$only"; then continue; fi
  in="$work/$input"
  ot=(); om=(); vt=(); vm=(); it=(); im=(); vr=(); vmr=(); ir=(); imr=()
  state=ok
  for ((turn = 1; turn <= turns; turn++)); do
    read -r a b <<<"$(run "ours-$name" "$driver" "$name" "$in" "$work/ours-$name.tif")"
    rm -f "$work/ours-$name.tif"
    if [ "$a" = n/a ] || [ "$a" = failed ]; then state=$a; break; fi
    ot+=("$a"); om+=("$b")
    if [ "$vcmd" != "-" ]; then
      # shellcheck disable=SC2046
      read -r c d <<<"$(run "vips-$name" $(expand "$vcmd" "$in" "$work/vips-$name.tif"))"
      rm -f "$work/vips-$name.tif"
      if [ "$c" != failed ]; then vt+=("$c"); vm+=("$d"); vr+=("$(ratio "$a" "$c")"); vmr+=("$(ratio "$b" "$d")"); fi
    fi
    if [ "$icmd" != "-" ] && [ "$magick" = 1 ]; then
      # shellcheck disable=SC2046
      read -r c d <<<"$(run "im-$name" $(expand "$icmd" "$in" "$work/im-$name.tif"))"
      rm -f "$work/im-$name.tif"
      if [ "$c" != failed ]; then it+=("$c"); im+=("$d"); ir+=("$(ratio "$a" "$c")"); imr+=("$(ratio "$b" "$d")"); fi
    fi
  done
  if [ "$state" = n/a ]; then
    printf "$fmt" "$name" "not built" "" "" "" "" "" "" "" "" ""
    continue
  fi
  if [ "$state" = failed ] && [ ${#ot[@]} = 0 ]; then
    printf "$fmt" "$name" "failed" "" "" "" "" "" "" "" "" ""
    continue
  fi
  printf "$fmt" "$name" "$(s2 "${ot[@]}")" "$(mb "${om[@]}")" \
    "$(s2 "${vt[@]+"${vt[@]}"}")" "$(mb "${vm[@]+"${vm[@]}"}")" "$(s2 "${vr[@]+"${vr[@]}"}")" "$(s2 "${vmr[@]+"${vmr[@]}"}")" \
    "$(s2 "${it[@]+"${it[@]}"}")" "$(mb "${im[@]+"${im[@]}"}")" "$(s2 "${ir[@]+"${ir[@]}"}")" "$(s2 "${imr[@]+"${imr[@]}"}")"
done
echo
