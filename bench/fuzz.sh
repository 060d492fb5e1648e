#!/usr/bin/env bash
# Fuzzes the capture journal reader and the settings-file parser with
# libFuzzer (clang, with AddressSanitizer and UndefinedBehaviorSanitizer),
# each from its seed corpus in fuzz/corpus: 10^6 inputs per target, or
# FUZZ_SECONDS seconds per target when that is set (CI). Prints how many
# inputs each target ran and any crash; exits non-zero after a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vantrel_ensure_packages clang libfuzzer-14-dev
build="${VANTREL_FUZZ_BUILD_DIR:-build/fuzz}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF >/dev/null
cmake --build "$build" --target journal_reader_fuzz settings_file_fuzz >/dev/null

if [ -n "${FUZZ_SECONDS:-}" ]; then
    limit=(-runs=-1 -max_total_time="$FUZZ_SECONDS")
else
    limit=(-runs="${FUZZ_RUNS:-1000000}")
fi
failed=0
for target in journal_reader settings_file; do
    corpus="$build/corpus/$target"       # what this run finds; the seeds stay as they are
    crashes="$build/crashes/$target/"
    log="$build/$target.log"
    mkdir -p "$corpus" "$crashes"
    status=ok
    # -rss_limit_mb and -timeout turn a memory blow-up or a hang into a finding.
    if ! "$build/fuzz/${target}_fuzz" "$corpus" "fuzz/corpus/$target" "${limit[@]}" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes" >"$log" 2>&1; then
        status=CRASH
        failed=1
    fi
    inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$target: ${inputs:-?} inputs, $status"
    if [ "$status" != ok ]; then
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20 || true
    fi
done
exit $failed
