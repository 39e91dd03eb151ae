#!/usr/bin/env bash
# Starts orbalon in an X server of its own (Xvfb) with a private home and XDG folders,
# waits for its main window and saves a PNG screenshot of the screen.
#   scripts/screenshot.sh [output.png] [-- orbalon arguments...]
# ORBALON names the program (default: build/plain/bin/orbalon); ORB_SHOT_WAIT the seconds
# to wait for the window (default 60).
set -eu
if [ "${ORB_SHOT_INNER:-}" != 1 ]; then
  cd "$(dirname "$0")/.."
  out=$(realpath -m "${1:-orbalon.png}")
  [ $# -gt 0 ] && shift
  [ "${1:-}" = "--" ] && shift
  prog=$(realpath "${ORBALON:-build/plain/bin/orbalon}")
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/orbshot.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" \
         XDG_CACHE_HOME="$tmp/cache" XDG_DOCUMENTS_DIR="$tmp/home/Documents" \
         XDG_RUNTIME_DIR="$tmp/run"
  mkdir -p "$HOME/Documents" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  ORB_SHOT_INNER=1 ORB_SHOT_OUT="$out" ORB_SHOT_PROG="$prog" \
    xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$@"
  echo "screenshot: $out"
  exit 0
fi

# Inside the X server.
"$ORB_SHOT_PROG" "$@" >"$XDG_CACHE_HOME/orbalon.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
wait_s=${ORB_SHOT_WAIT:-60}
found=
for _ in $(seq $((wait_s * 10))); do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "orbalon ended before showing its window:" >&2
    cat "$XDG_CACHE_HOME/orbalon.log" >&2
    exit 1
  fi
  if xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; then found=1; break; fi
  sleep 0.1
done
if [ -z "$found" ]; then
  echo "orbalon showed no window within ${wait_s}s" >&2
  exit 1
fi
sleep 2  # let the window finish its first paint
import -window root "$ORB_SHOT_OUT"
