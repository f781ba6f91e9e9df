#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time (FUZZ_SECONDS, default 30) on a
# copy of its seed corpus. Exits nonzero when any target finds a crash.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
passed=0
failed=0
for target in build/fuzz/bin/fuzz_*; do
    name=$(basename "$target")
    corpus=$(mktemp -d)
    seeds=fuzz/corpus/${name#fuzz_}
    [ -d "$seeds" ] && cp "$seeds"/* "$corpus"/ 2>/dev/null
    artifacts=$(mktemp -d)
    if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" >"$artifacts/log" 2>&1; then
        runs=$(grep -m1 -oE 'stat::number_of_executed_units: [0-9]+' "$artifacts/log" | grep -oE '[0-9]+$')
        echo "fuzz: $name: ${runs:-?} runs in ${seconds} s, no crash"
        passed=$((passed + 1))
    else
        echo "fuzz: $name: FAILED"
        grep -E 'ERROR|SUMMARY|runtime error' "$artifacts/log" | head -5
        ls "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* 2>/dev/null
        failed=$((failed + 1))
    fi
    rm -rf "$corpus"
done
echo "Fuzz targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
