#!/usr/bin/env bash
# Builds Vellumor and runs every test: the plain build (unit, whole-program and X11
# end-to-end tests), then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the program on the virtual X desktop included (the macOS
# backend's syntax check and the bundle's signing check, which do not depend on the build's
# flags, and the Linux package, which is made from the plain build, run once), then a minute of
# fuzzing per target.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="$(nproc 2>/dev/null || echo 2)"

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
# The benchmarks run once, briefly, so that they cannot rot; they measure nothing here.
bench/smoke.sh build/default

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -LE "cocoa-check|bundle|package"

# The keyed-archive and defaults-file fuzz targets, a minute each.
tests/fuzz/run_fuzzers.sh 60
