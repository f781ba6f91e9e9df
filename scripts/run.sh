#!/usr/bin/env bash
# Sets up a fresh machine with what the main job needs, builds ovractl and runs the main job. Its
# own build folder, without tests and benchmarks, whose libraries come with the test setup.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --main >/dev/null
cmake --preset linux -B build/main -DOVRA_BUILD_TESTS=OFF -DOVRA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/main -j"$(nproc)" --target ovractl >/dev/null
exec build/main/bin/ovractl "${@:-demo}"
