#!/usr/bin/env bash
# Writes and reads every format and kind libimagemill writes, with libimagemill and with
# `vips` (and `tiffcp` or `opj_compress`/`opj_decompress` where they do the same work), on one
# generated image the size of a 1 m wide scan at 600 dpi (23622 x 8000: colour, grey and
# bilevel variants). Every command runs as a whole process, in turns (ours, vips, the other
# tool, ours, vips, ...), so that a drifting machine moves both sides of a ratio alike; the
# table gives medians: seconds, the median of the per-turn ratios ours / theirs (below 1:
# ours is faster), and peak resident memory in MB.
#
#   write: the uncompressed TIFF of the kind -> the format (the same input for everyone)
#   read:  the file libimagemill wrote -> an uncompressed TIFF (the same output for everyone;
#          bilevel stays 1 bit)
#
#   bench/formats.sh [--small] [--height H] [--turns N] [--only REGEX] [--build DIR]
#                    [--work DIR] [--keep]
#
#   --small       a tenth of the size each way (2362 x 800): a quick check
#   --height H    another image height (the memory should not follow it)
#   --turns N     turns per row (default 3)
#   --only REGEX  only the rows whose "format kind" matches, e.g. 'jp2|png'
#   --build DIR   build tree with bin/mill_convert and bin/make_test_image (default
#                 build/formats, configured and built in Release when they are missing)
#   --work DIR    where the images go (default a fresh folder under $TMPDIR or /tmp; the
#                 full size needs about 2.5 GB); removed at the end unless --keep
#
# Quality settings are the library's defaults, given to the others too: JPEG and TIFF-JPEG
# quality 75, JPEG 2000 lossless, PNG zlib level 6 without row filters (vips' default).
# Formats vips does not write (Group 3, PDF, BMP) show "-" in its columns. Slow: minutes at
# full size; never part of the test suite.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
W=23622
H=8000
turns=3
only=""
build="$repo/build/formats"
work=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --small) W=2362; H=800 ;;
    --height) H=$2; shift ;;
    --turns) turns=$2; shift ;;
    --only) only=$2; shift ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,29p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

for tool in vips tiffcp opj_compress opj_decompress /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "formats.sh: $tool is missing" >&2; exit 1; }
done

conv="$build/bin/mill_convert"
maker="$build/bin/make_test_image"
if [ ! -x "$conv" ] || [ ! -x "$maker" ]; then
  echo "Building the converter in $build ..." >&2
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORB_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" --target mill_convert make_test_image -j2 >/dev/null
fi

if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/orb-formats.XXXXXX")
else
  mkdir -p "$work"
  work=$(mktemp -d "$work/orb-formats.XXXXXX")
fi
cleanup() { if [ "$keep" = 0 ]; then rm -rf "$work"; else echo "kept $work" >&2; fi; }
trap cleanup EXIT

echo "Generating the ${W} x ${H} test images in $work ..." >&2
"$maker" "$W" "$H" "$work" >/dev/null
cpus=$(nproc)

# timed NAME CMD...: runs CMD once; prints "seconds kilobytes", or "failed".
timed() {
  local name=$1; shift
  local t="$work/time.$name"
  if timeout 3600 /usr/bin/time -f '%e %M' -o "$t" "$@" >"$work/log.$name" 2>&1; then
    tail -n 1 "$t"
  else
    echo "failed"
  fi
}

# median of the numbers on standard input ("-" when there are none)
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# expand TEMPLATE IN OUT -> the command's words
expand() {
  local s=${1//IN/$2}
  echo "${s//OUT/$3}"
}

fmt='%-9s %-8s %-5s | %7s %6s | %7s %6s %6s | %-14s %7s %6s %6s\n'
printf '\nImage %s x %s; %s processors; libvips %s; %s turns; medians; ratio = ours / theirs per turn.\n\n' \
  "$W" "$H" "$cpus" "$(vips --version | sed 's/vips-//')" "$turns"
printf "$fmt" format kind work "ours s" MB "vips s" MB ratio "other" "s" MB ratio
printf '%s\n' "---------------------------------------------------------------------------------------------------"

# row FORMAT KIND WORK INPUT OURS_TEMPLATE VIPS_TEMPLATE OTHER_NAME OTHER_TEMPLATE EXT
# Templates use IN and OUT; "-" leaves a column out.
row() {
  local format=$1 kind=$2 what=$3 input=$4 ours=$5 vips=$6 oname=$7 other=$8 ext=$9
  if [ -n "$only" ] && ! echo "$format $kind" | grep -Eq "$only"; then return; fi
  local ot=() om=() vt=() vm=() xt=() xm=() vr=() xr=()
  local i r a b
  for ((i = 1; i <= turns; i++)); do
    # shellcheck disable=SC2046
    read -r a b <<<"$(timed ours $(expand "$ours" "$input" "$work/ours.$ext"))"
    if [ "$a" = failed ]; then
      printf "$fmt" "$format" "$kind" "$what" failed "" "" "" "" "" "" "" ""
      sed 's/^/    /' "$work/log.ours" >&2
      return
    fi
    ot+=("$a"); om+=("$b")
    if [ "$what" = write ]; then mv -f "$work/ours.$ext" "$work/kept.$format.$kind.$ext"; fi
    rm -f "$work/ours.$ext"
    if [ "$vips" != - ]; then
      # shellcheck disable=SC2046
      read -r r b <<<"$(timed vips $(expand "$vips" "$input" "$work/vips.$ext"))"
      rm -f "$work/vips.$ext"
      if [ "$r" != failed ]; then vt+=("$r"); vm+=("$b"); vr+=("$(awk -v x="$a" -v y="$r" 'BEGIN { if (y > 0) print x / y }')"); fi
    fi
    if [ "$other" != - ]; then
      # shellcheck disable=SC2046
      read -r r b <<<"$(timed other $(expand "$other" "$input" "$work/other.$ext"))"
      rm -f "$work/other.$ext"
      if [ "$r" != failed ]; then xt+=("$r"); xm+=("$b"); xr+=("$(awk -v x="$a" -v y="$r" 'BEGIN { if (y > 0) print x / y }')"); fi
    fi
  done
  med() { { printf '%s\n' "$@" | grep -v '^$' || true; } | median; }
  mb() { local m; m=$(med "$@"); [ "$m" = - ] && echo - || awk -v k="$m" 'BEGIN { printf "%.0f", k / 1024 }'; }
  s2() { local m; m=$(med "$@"); [ "$m" = - ] && echo - || awk -v s="$m" 'BEGIN { printf "%.2f", s }'; }
  printf "$fmt" "$format" "$kind" "$what" "$(s2 "${ot[@]}")" "$(mb "${om[@]}")" \
    "$(s2 "${vt[@]+"${vt[@]}"}")" "$(mb "${vm[@]+"${vm[@]}"}")" "$(s2 "${vr[@]+"${vr[@]}"}")" \
    "$( [ "$other" = - ] && echo - || echo "$oname")" \
    "$(s2 "${xt[@]+"${xt[@]}"}")" "$(mb "${xm[@]+"${xm[@]}"}")" "$(s2 "${xr[@]+"${xr[@]}"}")"
}

src() { echo "$work/$1.tif"; }
kept() { echo "$work/kept.$1.$2.$3"; }
opj_threads="-threads $cpus"

# Each format: the write row, then the read row of the file we wrote.
both() {  # both FORMAT KIND NAME EXT VIPS_WRITE OTHER_NAME OTHER_WRITE VIPS_READ OTHER_READ
  local format=$1 kind=$2 name=$3 ext=$4
  row "$format" "$kind" write "$(src "$kind")" "$conv $name IN OUT" "$5" "$6" "$7" "$ext"
  [ -f "$(kept "$format" "$kind" "$ext")" ] || return 0
  row "$format" "$kind" read "$(kept "$format" "$kind" "$ext")" "$conv tiff IN OUT" "$8" "$6" "$9" tif
  rm -f "$(kept "$format" "$kind" "$ext")"
}

for kind in rgb grey bilevel; do
  bd=""; [ "$kind" = bilevel ] && bd="--bitdepth 1"
  both tiff "$kind" tiff tif "vips tiffsave IN OUT $bd" tiffcp "tiffcp -c none IN OUT" "vips tiffsave IN OUT $bd" "tiffcp -c none IN OUT"
  both packbits "$kind" packbits tif "vips tiffsave IN OUT --compression packbits $bd" tiffcp "tiffcp -c packbits IN OUT" \
    "vips tiffsave IN OUT $bd" "tiffcp -c none IN OUT"
done
both g3 bilevel g3 tif - tiffcp "tiffcp -c g3:2d IN OUT" "vips tiffsave IN OUT --bitdepth 1" "tiffcp -c none IN OUT"
both g4 bilevel g4 tif "vips tiffsave IN OUT --compression ccittfax4 --bitdepth 1" tiffcp "tiffcp -c g4 IN OUT" \
  "vips tiffsave IN OUT --bitdepth 1" "tiffcp -c none IN OUT"
for kind in rgb grey; do
  both tiffjpeg "$kind" tiffjpeg tif "vips tiffsave IN OUT --compression jpeg --Q 75" tiffcp "tiffcp -c jpeg:75 -r 128 IN OUT" \
    "vips tiffsave IN OUT" "tiffcp -c none IN OUT"
  both jpeg "$kind" jpeg jpg "vips jpegsave IN OUT --Q 75" - - "vips tiffsave IN OUT" -
  both png "$kind" png png "vips pngsave IN OUT" - - "vips tiffsave IN OUT" -
  both jp2 "$kind" jp2 jp2 "vips jp2ksave IN OUT --lossless" opj "opj_compress -i IN -o OUT $opj_threads" \
    "vips tiffsave IN OUT" "opj_decompress -i IN -o OUT $opj_threads"
  both pdfjpeg "$kind" pdfjpeg pdf - - - - -
  both bmp "$kind" bmp bmp - - - - -
done
both png bilevel png png "vips pngsave IN OUT --bitdepth 1" - - "vips tiffsave IN OUT --bitdepth 1" -
both pdfg4 bilevel pdfg4 pdf - - - - -
both bmp bilevel bmp bmp - - - - -
echo
