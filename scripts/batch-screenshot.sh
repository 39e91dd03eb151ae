#!/usr/bin/env bash
# Screenshots of batch work in the running program, each in an X server of its own (Xvfb)
# with a private home: the batch file editor (File > New Batch File), a batch run with
# automatic saving (orbalon job.bch, the status line naming the file in work), a run that
# holds each result for inspection, and the outside editor page after a test script ran as
# the editor on the open image.
#   scripts/batch-screenshot.sh [OUTDIR]    (default: /tmp/batch-shots)
# ORBALON names the program (default: build/plain/bin/orbalon). Builds nothing.
set -eu
if [ "${ORB_SHOT_INNER:-}" != 1 ]; then
  cd "$(dirname "$0")/.."
  out=$(realpath -m "${1:-/tmp/batch-shots}")
  mkdir -p "$out"
  prog=$(realpath "${ORBALON:-build/plain/bin/orbalon}")
  maker=$(realpath "$(dirname "$prog")/make_test_image")
  for scene in editor running held outside; do
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/orbbatch.XXXXXX")
    (
      export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" \
             XDG_CACHE_HOME="$tmp/cache" XDG_DOCUMENTS_DIR="$tmp/home/Documents" \
             XDG_RUNTIME_DIR="$tmp/run"
      mkdir -p "$HOME/Documents" "$XDG_DATA_HOME/OrbalonData" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" \
               "$XDG_RUNTIME_DIR"
      chmod 700 "$XDG_RUNTIME_DIR"
      ORB_SHOT_INNER=1 ORB_SHOT_OUT="$out" ORB_SHOT_PROG="$prog" ORB_SHOT_SCENE="$scene" ORB_SHOT_TMP="$tmp" \
        ORB_SHOT_MAKER="$maker" \
        xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0"
    ) || echo "scene $scene failed" >&2
    rm -rf "$tmp"
  done
  ls -l "$out"
  exit 0
fi

# Inside the X server.
tmp=$ORB_SHOT_TMP
log="$XDG_CACHE_HOME/orbalon.log"
pid=
stop_orbalon() {
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
trap stop_orbalon EXIT
start() {
  "$ORB_SHOT_PROG" "$@" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || { echo "orbalon ended:" >&2; cat "$log" >&2; exit 1; }
    win=$(xdotool search --onlyvisible --pid "$pid" --name '^Orbalon' 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.1
  done
  sleep 2
  # The About box of a first start is modal: its OK button is the default.
  about=$(xdotool search --onlyvisible --pid "$pid" --name '^About' 2>/dev/null | head -n 1) || true
  if [ -n "${about:-}" ]; then
    xdotool windowfocus --sync "$about" >/dev/null 2>&1 || true
    xdotool key Return
    sleep 1
  fi
}
shot() { import -window root "$ORB_SHOT_OUT/$1.png"; }
images() {
  mkdir -p "$tmp/drawings" "$tmp/results"
  for i in 1 2 3 4; do
    convert -size "${1}" plasma:fractal -blur 0x3 -colorspace Gray -depth 8 -compress none \
      "$tmp/drawings/sheet $i.tif"
  done
}

case "$ORB_SHOT_SCENE" in
  editor)
    start
    xdotool key alt+f
    sleep 0.5
    xdotool key n
    sleep 2
    shot batch-editor
    ;;
  running)
    # Eight A0 pages at 300 dpi, so that the run lasts long enough to be seen.
    mkdir -p "$tmp/drawings" "$tmp/results"
    "$ORB_SHOT_MAKER" 9449 13362 "$tmp" >/dev/null
    for i in 1 2 3 4 5 6 7 8; do ln -s "$tmp/grey.tif" "$tmp/drawings/sheet $i.tif"; done
    {
      printf '[General]\nHoldForQC=0\nCreateLog=1\nSaveAsLocation=%s\nSaveAsFormat=tif-g4\n' "$tmp/results"
      printf 'DeleteOriginalFiles=0\n[Files]\n'
      n=0
      for f in "$tmp"/drawings/*.tif; do printf 'File%d=%s\n' "$n" "$f"; n=$((n + 1)); done
      printf '[Palette]\nConvertTo=4\n[BinaryThreshold]\nThresholdingType=1\nAdaptiveWindowSize=25\n'
      printf '[BinaryDespeckle]\nSpeckWidth=3\nSpeckHeight=3\n'
    } >"$tmp/night run.bch"
    start "$tmp/night run.bch"
    sleep 1
    shot batch-running
    for _ in $(seq 600); do [ -f "$tmp/results/sheet 8.tif" ] && break; sleep 0.2; done
    sleep 3
    shot batch-running-end
    cp "$tmp/night run.log" "$ORB_SHOT_OUT/night-run.log" 2>/dev/null || true
    ;;
  held)
    images 1200x1600
    {
      printf '[General]\nHoldForQC=1\n[Files]\n'
      n=0
      for f in "$tmp"/drawings/*.tif; do printf 'File%d=%s\n' "$n" "$f"; n=$((n + 1)); done
      printf '[Invert]\nInvert=True\n[Mirror]\nMirror=True\n'
    } >"$tmp/inspect.bch"
    start "$tmp/inspect.bch"
    sleep 3
    shot batch-held
    ;;
  outside)
    images 1200x1600
    # The editor: a script that draws a black frame and a cross into the image it is given.
    cat >"$tmp/frame-editor.sh" <<'EOS'
#!/bin/sh
convert "$1" -bordercolor black -border 0 -stroke black -strokewidth 40 -fill none \
  -draw "rectangle 20,20 1180,1580" -draw "line 0,0 1200,1600" -depth 8 -compress none "$1"
EOS
    chmod +x "$tmp/frame-editor.sh"
    # Editor.flt: the enabled byte, then the program path (260 bytes).
    python3 - "$XDG_DATA_HOME/OrbalonData/Editor.flt" "$tmp/frame-editor.sh" <<'EOS'
import sys
path = sys.argv[2].encode()
open(sys.argv[1], "wb").write(b"\x00" + path + b"\x00" * (260 - len(path)))
EOS
    start "$tmp/drawings/sheet 1.tif"
    # The other tools tab, its editor page, then Run (places of a 1600 x 1000 screen).
    xdotool mousemove 54 657 click 1
    sleep 1
    xdotool mousemove 116 526 click 1
    sleep 1
    shot outside-before
    xdotool mousemove 125 679 click 1
    sleep 4
    shot outside-after
    ;;
esac
