#!/usr/bin/env bash
# Times the engine's streaming operations against libvips and ImageMagick on one generated
# image the size of a 1 m wide scan at 600 dpi (23622 x 8000 pixels; RGB, grey and bilevel
# variants), each file -> operation -> file, and prints wall time and peak memory side by
# side with the ratios ours / theirs (below 1: ours is faster or smaller).
#
#   bench/compare.sh [--small] [--build DIR] [--work DIR] [--keep]
#
#   --small       a tenth of the size each way (2362 x 800): a quick check, seconds
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
build="$repo/build/compare"
work=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --small) small=1 ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
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

# run NAME CMD...: prints "seconds megabytes", or "failed" / "n/a" (not built).
run() {
  local name=$1; shift
  local t="$work/time.$name"
  local rc=0
  timeout 1800 /usr/bin/time -f '%e %M' -o "$t" "$@" >"$work/log.$name" 2>&1 || rc=$?
  if [ "$rc" = 3 ] && grep -q 'is not built' "$work/log.$name"; then echo "n/a"; return; fi
  if [ "$rc" != 0 ]; then echo "failed"; return; fi
  tail -n 1 "$t" | awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }'
}

ratio() {  # ratio OURS THEIRS (either may be a word)
  awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'
}

rows=()
# name | input | vips command (or -) | ImageMagick command (or -), OUT is the output file.
pair() { rows+=("$1|$2|$3|$4"); }
pair brightness-contrast rgb.tif "vips linear --uchar -- IN OUT 1.4286 -3.3" "-"
pair bw-point            rgb.tif "vips linear --uchar -- IN OUT 1.4167 -56.7" "-"
pair threshold           grey.tif "vips relational_const IN OUT moreeq 128" "-"
pair median-3            rgb.tif "vips rank IN OUT 3 3 4" "convert IN -median 3 OUT"
pair sharpen             rgb.tif "vips sharpen IN OUT" "convert IN -sharpen 0x1 OUT"
pair resize-half         rgb.tif "vips resize IN OUT 0.5 --kernel lanczos3" "convert IN -filter Lanczos -resize 50% OUT"
pair adaptive-threshold  grey.tif "-" "convert IN -lat 25x25-5% OUT"
pair error-diffusion     grey.tif "-" "convert IN -dither FloydSteinberg -monochrome OUT"
pair quantise-256        rgb.tif "-" "convert IN +dither -colors 256 OUT"
pair despeckle           bilevel.tif "-" "-"

expand() {  # expand TEMPLATE IN OUT -> words
  local s=${1//IN/$2}
  echo "${s//OUT/$3}"
}

printf '\nImage %s x %s; %s cores; libvips %s; %s\n' "$W" "$H" "$(nproc)" \
  "$(vips --version | awk '{print $1}' | sed 's/vips-//')" "$(convert -version | head -n1 | awk '{print $2, $3}')"
printf 'Times in seconds, peak resident memory in MB; ratio = ours / theirs.\n\n'
fmt='%-20s %8s %6s | %8s %6s %7s %7s | %8s %6s %7s %7s\n'
printf "$fmt" operation "ours s" MB "vips s" MB "t ratio" "m ratio" "IM s" MB "t ratio" "m ratio"
printf '%s\n' "------------------------------------------------------------------------------------------------------"
for row in "${rows[@]}"; do
  IFS='|' read -r name input vcmd icmd <<<"$row"
  in="$work/$input"
  read -r ot om <<<"$(run "ours-$name" "$driver" "$name" "$in" "$work/ours-$name.tif")"
  om=${om:--}
  rm -f "$work/ours-$name.tif"
  vt=-; vm=-; it=-; im=-
  if [ "$ot" = "n/a" ]; then
    printf "$fmt" "$name" "not built" "" "" "" "" "" "" "" "" ""
    continue
  fi
  if [ "$vcmd" != "-" ]; then
    # shellcheck disable=SC2046
    read -r vt vm <<<"$(run "vips-$name" $(expand "$vcmd" "$in" "$work/vips-$name.tif"))"
    vm=${vm:--}
    rm -f "$work/vips-$name.tif"
  fi
  if [ "$icmd" != "-" ]; then
    # shellcheck disable=SC2046
    read -r it im <<<"$(run "im-$name" $(expand "$icmd" "$in" "$work/im-$name.tif"))"
    im=${im:--}
    rm -f "$work/im-$name.tif"
  fi
  printf "$fmt" "$name" "$ot" "$om" "$vt" "$vm" "$(ratio "$ot" "$vt")" "$(ratio "$om" "$vm")" \
    "$it" "$im" "$(ratio "$ot" "$it")" "$(ratio "$om" "$im")"
done
echo
