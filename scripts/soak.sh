#!/usr/bin/env bash
# Builds and runs the soak program: threads inserting into and searching one log database while
# its retention worker, SMART monitors and a time-sync worker are started and stopped over and
# over; prints the figures and fails when a record is lost or memory grows after the warm-up.
# Usage: scripts/soak.sh [--tsan]
#   SOAK_SECONDS  duration (default 120; 30 under ThreadSanitizer)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=linux
default_seconds=120
if [ "${1:-}" = --tsan ]; then
    preset=linux-tsan
    default_seconds=30
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
fi
seconds=${SOAK_SECONDS:-$default_seconds}

jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$jobs" --target ovra_soak
echo "=== soak ($preset, $seconds s)"
exec "build/$preset/bin/ovra_soak" "$seconds"
