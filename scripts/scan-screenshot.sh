#!/usr/bin/env bash
# Shows a scan in progress: starts orbalon in an X server of its own (Xvfb) with a private
# home, a simulated scanner (ORB_SIM_SCANNER, default scsi) delivering at a realistic pace, presses Scan (F5), takes a
# screenshot while the page is being drawn and a second one when the scan has ended.
#   scripts/scan-screenshot.sh [during.png] [after.png] [-- orbalon arguments...]
# ORBALON names the program (default: build/plain/bin/orbalon). Builds nothing.
# ORB_SIM_SCAN_SPEED the pace in lines a second (default 60); ORB_SHOT_WAIT the seconds to
# wait for the window (default 60); ORB_SHOT_MID the seconds after Scan before the first
# screenshot (default 2); ORB_SHOT_SCAN_WAIT the most seconds to wait for the scan to end
# (default 180); ORB_SHOT_SERIES a folder for a screenshot every half second of the scan.
set -eu
if [ "${ORB_SHOT_INNER:-}" != 1 ]; then
  cd "$(dirname "$0")/.."
  during=$(realpath -m "${1:-scan-during.png}")
  [ $# -gt 0 ] && shift
  after=$(realpath -m "${1:-scan-after.png}")
  [ $# -gt 0 ] && shift
  [ "${1:-}" = "--" ] && shift
  mkdir -p "$(dirname "$during")" "$(dirname "$after")"
  prog=$(realpath "${ORBALON:-build/plain/bin/orbalon}")
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/orbscan.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" \
         XDG_CACHE_HOME="$tmp/cache" XDG_DOCUMENTS_DIR="$tmp/home/Documents" \
         XDG_RUNTIME_DIR="$tmp/run"
  mkdir -p "$HOME/Documents" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export ORB_SIM_SCANNER="${ORB_SIM_SCANNER:-scsi}" ORB_SIM_SCAN_SPEED="${ORB_SIM_SCAN_SPEED:-60}"
  ORB_SHOT_INNER=1 ORB_SHOT_DURING="$during" ORB_SHOT_AFTER="$after" ORB_SHOT_PROG="$prog" \
    xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$@"
  echo "during the scan: $during"
  echo "after the scan:  $after"
  exit 0
fi

# Inside the X server.
log="$XDG_CACHE_HOME/orbalon.log"
"$ORB_SHOT_PROG" "$@" >"$log" 2>&1 &
pid=$!
stop_orbalon() {
  # A modal message box can keep the program from ending on SIGTERM: give it five seconds.
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
trap stop_orbalon EXIT
alive() {
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "orbalon ended $1:" >&2
    cat "$log" >&2
    exit 1
  fi
}

wait_s=${ORB_SHOT_WAIT:-60}
win=
for _ in $(seq $((wait_s * 10))); do
  alive "before showing its window"
  win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
  sleep 0.1
done
if [ -z "$win" ]; then
  echo "orbalon showed no window within ${wait_s}s" >&2
  exit 1
fi
sleep 2  # let the window finish its first paint (and the scanner be found)

# The About box a first start shows is modal: close it (its OK button is the default).
for _ in $(seq 30); do
  about=$(xdotool search --onlyvisible --pid "$pid" --name '^About Orbalon$' 2>/dev/null | head -n 1) || true
  [ -n "$about" ] && break
  sleep 0.1
done
if [ -n "${about:-}" ]; then
  xdotool windowfocus --sync "$about" >/dev/null 2>&1 || true
  xdotool key Return
  sleep 1
fi

# The scan runs on threads of its own; it is over when the process is back to the threads
# it had before Scan was pressed (the CPU time is no guide: a paced scan mostly waits).
threads() { ls "/proc/$pid/task" 2>/dev/null | wc -l; }
idle_threads=$(threads)

xdotool windowfocus --sync "$win" >/dev/null 2>&1 || true
xdotool key F5
sleep "${ORB_SHOT_MID:-2}"
alive "during the scan"
import -window root "$ORB_SHOT_DURING"

scan_wait=${ORB_SHOT_SCAN_WAIT:-180}
settled=0
n=0
for _ in $(seq $((scan_wait * 2))); do
  sleep 0.5
  alive "during the scan"
  now=$(threads)
  if [ -n "${ORB_SHOT_SERIES:-}" ]; then
    # Debugging aid: a screenshot every half second into that folder.
    mkdir -p "$ORB_SHOT_SERIES"
    n=$((n + 1))
    import -window root "$ORB_SHOT_SERIES/$(printf %03d "$n").png"
    echo "$n threads=$now (idle $idle_threads)" >>"$ORB_SHOT_SERIES/log"
  fi
  if [ "$now" -le "$idle_threads" ]; then settled=$((settled + 1)); else settled=0; fi
  [ "$settled" -ge 3 ] && break
done
[ "$settled" -ge 3 ] || echo "the scan still ran after ${scan_wait}s; taking the screenshot anyway" >&2
sleep 1
import -window root "$ORB_SHOT_AFTER"
