#!/usr/bin/env bash
# Builds Orbalon and starts it. With no scanner attached it runs against the simulated
# scanner named by ORB_SIM_SCANNER (default: a SCSI-family model). Where there is no
# display, it starts the program in a private X server and saves a screenshot instead.
set -eu
cd "$(dirname "$0")/.."
bash scripts/packages.sh
cmake -S . -B build/plain -G Ninja -DORB_BUILD_BENCH=OFF
cmake --build build/plain -j "$(nproc)"
export ORB_SIM_SCANNER="${ORB_SIM_SCANNER:-scsi}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting orbalon under Xvfb and saving a screenshot." >&2
  ORBALON=build/plain/bin/orbalon exec bash scripts/screenshot.sh build/orbalon.png -- "$@"
fi
exec build/plain/bin/orbalon "$@"
