#!/usr/bin/env bash
# Builds Orbalon and starts it. With no scanner attached it runs against the simulated
# scanner named by ORB_SIM_SCANNER (default: a SCSI-family model).
set -eu
cd "$(dirname "$0")/.."
bash scripts/packages.sh
cmake -S . -B build/plain -G Ninja -DORB_BUILD_BENCH=OFF
cmake --build build/plain -j "$(nproc)"
export ORB_SIM_SCANNER="${ORB_SIM_SCANNER:-scsi}"
exec build/plain/bin/orbalon "$@"
