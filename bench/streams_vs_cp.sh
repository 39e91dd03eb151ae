#!/usr/bin/env bash
# Runs the line-stream benchmark (a 23622 x 8000 RGB image file -> read stream -> write
# stream -> file) and prints its throughput beside cp of the same file, with the ratio
# stream time / cp time (1.0: as fast as copying the bytes), and beside dd with 1 MB
# blocks (a copy through user space, as any reader-writer pair does).
#
#   bench/streams_vs_cp.sh [BUILD_DIR]     (default build/streams; built when missing)
#
# Needs about 2 GB free in $ORB_BENCH_DIR (default $TMPDIR or /tmp).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/streams}
if [ ! -x "$build/bin/bench_streams" ]; then
  cmake -S "$repo" -B "$build" -G Ninja -DORB_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" --target bench_streams -j4
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bin/bench_streams" --benchmark_format=json >"$out"
python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
print(f"{'lines':>6} {'stream MB/s':>12} {'cp MB/s':>9} {'ratio':>6} {'dd MB/s':>9} {'ratio dd':>9} {'RSS growth MB':>14} {'peak RSS MB':>12}")
for b in data["benchmarks"]:
    lines = b["name"].split("/")[1]
    print(f"{lines:>6} {b['stream_MBps']:12.0f} {b['cp_MBps']:9.0f} {b['ratio']:6.2f} "
          f"{b['dd_MBps']:9.0f} {b['ratio_dd']:9.2f} "
          f"{b['rss_growth_MB']:14.1f} {b['peak_rss_MB']:12.1f}")
PY
