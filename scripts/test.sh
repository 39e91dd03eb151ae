#!/usr/bin/env bash
# Builds the suite and runs every test: once in a plain build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer. GUI tests run under Xvfb by themselves.
#   ORB_BUILDS="plain" scripts/test.sh     runs only the plain build
set -eu
cd "$(dirname "$0")/.."
bash scripts/packages.sh
jobs=$(nproc)
for kind in ${ORB_BUILDS:-plain sanitize}; do
  dir="build/$kind"
  san=OFF; [ "$kind" = sanitize ] && san=ON
  cmake -S . -B "$dir" -G Ninja -DORB_WERROR=ON -DORB_SANITIZE=$san -DORB_BUILD_BENCH=$([ "$kind" = plain ] && echo ON || echo OFF)
  cmake --build "$dir" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2
done
