#!/usr/bin/env bash
# Runs every benchmark once, briefly, so that CI notices when one no longer builds or runs.
# The figures it prints are not measurements worth quoting (see bench/README.md for those),
# and nothing here compares a time with a limit: only a benchmark that fails fails the run.
#
#   bench/smoke.sh [BUILD_DIR]      (default build/default, already configured)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"

targets=(program_bench store_bench)
if cmake --build "$build" --target help 2>/dev/null | grep -qw bare_windows; then
    targets+=(bare_windows x11_probe stacking_count repaint_clock)
fi
if cmake --build "$build" --target help 2>/dev/null | grep -qw wayland_watcher; then
    targets+=(wayland_watcher)
fi
cmake --build "$build" --target "${targets[@]}" -j "$(nproc 2>/dev/null || echo 2)"

for bench in program_bench store_bench; do
    # A benchmark that stops with an error reports it and carries on; the JSON tells.
    out="$(mktemp)"
    "$build/bench/$bench" --benchmark_min_time=0.01 --benchmark_out="$out" \
        --benchmark_out_format=json
    if grep -q '"error_occurred": true' "$out"; then
        echo "smoke: $bench reported an error" >&2
        rm -f "$out"
        exit 1
    fi
    rm -f "$out"
done

# The X11 measurements, once each; skipped (with a note) where the Qt program or the virtual
# desktop's tools are missing.
"$root/bench/x11_bench.sh" --quick "$build"
# The Wayland ones on a headless sway, the same way.
"$root/bench/wayland_bench.sh" --quick "$build"
