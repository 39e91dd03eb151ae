#!/usr/bin/env bash
# The shipped scanner library holds no simulated scanner: fails when the dynamic symbols of
# the library given (or, for a static archive, its symbols) name the simulator, or when the
# library contains the variable that asks for simulated scanners.
#   check-no-simulator.sh LIBRARY             the check
#   check-no-simulator.sh --finds ARCHIVE     the check must fail on ARCHIVE (the simulator)
set -eu
expect_found=0
if [ "${1:-}" = "--finds" ]; then
  expect_found=1
  shift
fi
lib="$1"
[ -f "$lib" ] || { echo "no such library: $lib"; exit 2; }
case "$lib" in
  *.a) symbols=$(nm -C "$lib" 2>/dev/null) ;;
  *) symbols=$(nm -DC "$lib") ;;
esac
hits=$(printf '%s\n' "$symbols" | grep -E 'orb::sim::|Sim(Scanner|ScsiBus|Sti|Attach)' || true)
if grep -qa 'ORB_SIM_' "$lib"; then
  hits="$hits"$'\n'"the library reads ORB_SIM_ variables"
fi
if [ "$expect_found" = 1 ]; then
  [ -n "$hits" ] || { echo "the check found nothing in $lib"; exit 1; }
  exit 0
fi
if [ -n "$hits" ]; then
  echo "$hits" | head -20
  exit 1
fi
