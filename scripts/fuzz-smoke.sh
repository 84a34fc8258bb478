#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60), two at a time,
# on its seed corpus and its saved regressions. Any crash, leak, timeout or
# out-of-memory makes the script fail. libFuzzer's output goes to a log per
# target in the build folder; only a summary line (and a log tail on failure)
# is printed.
#   scripts/fuzz-smoke.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
targets=(fuzz_bmp fuzz_gif fuzz_jpeg fuzz_png fuzz_tiff fuzz_load fuzz_repairs)
build=build/fuzz
out="$build/fuzz-smoke"

cmake --preset fuzz >"$build.configure.log" 2>&1 || { tail -n 40 "$build.configure.log"; exit 1; }
cmake --build --preset fuzz -j 2 >"$out.build.log" 2>&1 || { tail -n 40 "$out.build.log"; exit 1; }

rm -rf "$out"
mkdir -p "$out"

run_target() {
    local target="$1"
    local dict="fuzz/${target#fuzz_}.dict"
    [ "$target" = fuzz_load ] && dict="$build/fuzz/load.dict"
    # Pictures have no syntax a dictionary could help with.
    local dictArgs=(-dict="$dict")
    [ "$target" = fuzz_repairs ] && dictArgs=()
    local work="$out/$target.corpus"
    local artifacts="$out/$target.artifacts"
    mkdir -p "$work" "$artifacts"
    local corpora=("$work" "$build/fuzz/seeds/$target")
    [ -d "fuzz/regressions/$target" ] && corpora+=("fuzz/regressions/$target")
    # New inputs go into the first folder, a scratch copy, never into the
    # seeds or the committed regressions.
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -malloc_limit_mb=2048 "${dictArgs[@]}" -artifact_prefix="$artifacts/" \
        -print_final_stats=1 "${corpora[@]}" >"$out/$target.log" 2>&1
}

summarise() {
    local target="$1" status="$2" log="$out/$1.log"
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -eq 0 ]; then
        echo "fuzz $target: ok, ${runs:-?} runs in ${seconds}s"
    else
        echo "fuzz $target: FAILED (exit $status) after ${runs:-?} runs; log $log, inputs in $out/$target.artifacts"
        tail -n 30 "$log"
    fi
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    batch=("${targets[@]:i:2}")
    for target in "${batch[@]}"; do
        run_target "$target" &
        pids+=($!)
    done
    for j in "${!batch[@]}"; do
        status=0
        wait "${pids[$j]}" || status=$?
        summarise "${batch[$j]}" "$status"
        [ "$status" -eq 0 ] || failed=1
    done
done
exit "$failed"
