#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each one for a bounded
# time (seconds, default 60) from the seed corpus kept in tests/fuzz/corpus plus every kept
# regression input. New inputs are collected in build/fuzz/corpus/<target>, never in the
# repository. Exits non-zero when a target crashes, leaks, times out or runs out of memory;
# the input that did it is left in build/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${1:-60}"
build=build/fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DVELLUMOR_FUZZ=ON -DVELLUMOR_TESTS=OFF \
    -DVELLUMOR_BACKEND=none -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
    --target fuzz_unarchive_color fuzz_defaults_file

# Each target takes inputs up to the largest its reader accepts (platform/common: 1 MiB for a
# colour archive, 4 MiB for a defaults file), so that the deepest nesting and the largest
# files the readers let through are within reach; for the defaults file from the first run
# on (-len_control=0), rather than once libFuzzer has slowly raised its length limit. Its
# dictionary holds the tokens of XML nesting, opened and closed in many ways.
declare -A options=([unarchive_color]="-max_len=1048576"
    [defaults_file]="-max_len=4194304 -len_control=0 -dict=tests/fuzz/defaults_file.dict")
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

status=0
for target in unarchive_color defaults_file; do
    work="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    mkdir -p "$work" "$artifacts" "tests/fuzz/regressions/$target"
    # Kept inputs too large for the repository as they are are kept compressed; the fuzzer
    # starts from them unpacked, so that inputs of that size and depth are mutated too.
    for packed in "tests/fuzz/regressions/$target"/*.gz; do
        [ ! -e "$packed" ] || gunzip -c "$packed" >"$work/$(basename "$packed" .gz)"
    done
    echo "== fuzz_$target for ${seconds}s"
    result=0
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        ${options[$target]} -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$work" "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" \
        >"$build/fuzz_$target.log" 2>&1 || result=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^Done|SUMMARY|broken promise' \
        "$build/fuzz_$target.log" || true
    if [ "$result" -ne 0 ]; then
        echo "fuzz_$target FAILED (exit $result): see $build/fuzz_$target.log and $artifacts/" >&2
        status=1
    fi
done
exit "$status"
