#!/usr/bin/env bash
# Sets up a fresh machine, builds the native tree and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target ovractl >/dev/null
exec build/linux/bin/ovractl "${@:-demo}"
