#!/usr/bin/env bash
# Builds and runs every test suite: native (plain, AddressSanitizer + UndefinedBehaviorSanitizer,
# ThreadSanitizer), the Windows build under Wine, and bounded runs of the libFuzzer targets.
# Usage: scripts/test.sh [PRESET...]   (presets: linux linux-asan linux-tsan windows fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --all || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan windows fuzz)
jobs=$(nproc)

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Wine: headless, silent, in a throwaway prefix.
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/ovra-wine.XXXXXX)}

passed=0
failed=0
status=0
for preset in "${presets[@]}"; do
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j"$jobs"; then
        echo "=== $preset: BUILD FAILED"
        status=1
        failed=$((failed + 1))
        continue
    fi
    if [ "$preset" = fuzz ]; then
        echo "=== fuzz: bounded libFuzzer runs"
        if bash scripts/fuzz.sh; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            status=1
        fi
        continue
    fi
    if [ "$preset" = windows ]; then
        echo "=== windows: starting Wine in $WINEPREFIX (the Windows tests run under Wine)"
        /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
        /usr/lib/wine/wineserver -w
    fi
    echo "=== $preset: tests"
    log=$(mktemp)
    ctest --preset "$preset" -j"$jobs" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    if [ -n "$summary" ]; then
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    [ "$rc" -eq 0 ] && [ -n "$summary" ] || status=1
    rm -f "$log"
    # A short soak where it means most: the plain build (memory) and ThreadSanitizer (races).
    if [ "$preset" = linux ] || [ "$preset" = linux-tsan ]; then
        soak_seconds=${SOAK_SECONDS:-$([ "$preset" = linux ] && echo 30 || echo 15)}
        echo "=== $preset: soak ($soak_seconds s)"
        if "build/$preset/bin/ovra_soak" "$soak_seconds"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            status=1
        fi
    fi
done
[ -n "${OVRA_KEEP_WINEPREFIX:-}" ] || { /usr/lib/wine/wineserver -k >/dev/null 2>&1; }
echo "Suites (${presets[*]}): $passed passed, $failed failed"
exit $status
