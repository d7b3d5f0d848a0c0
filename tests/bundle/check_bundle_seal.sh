#!/usr/bin/env bash
# Checks, off macOS, that Vellumor.app's ad-hoc signature covers the finished bundle after
# every build: the first one, a rebuild with nothing changed, a re-configure and rebuild, and
# a relink. cmake/MacBundle.cmake builds a bundle around a one-line program (project/), with
# fake_codesign.sh and fake_plutil.sh in place of macOS's tools.
#
# Usage: check_bundle_seal.sh GENERATOR CXX_COMPILER
# Exit status 77 means skipped: the generator's build tool is not installed.
set -uo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
build="$scratch/build" app="$scratch/build/Vellumor.app"

fail() { echo "FAILED: $*"; exit 1; }
tool=make && [ "$1" = Ninja ] && tool=ninja
command -v "$tool" >/dev/null || { echo "SKIPPED: $tool not found"; exit 77; }

configure() {
    cmake -S "$here/project" -B "$build" -G "$1" -DCMAKE_CXX_COMPILER="$2" \
        -DVELLUMOR_SOURCE_DIR="$here/../.." -DVELLUMOR_MAIN="$scratch/main.cpp" \
        -DVELLUMOR_PLUTIL="$here/fake_plutil.sh" -DVELLUMOR_CODESIGN="$here/fake_codesign.sh" \
        >"$scratch/log" 2>&1 || fail "configure: $(cat "$scratch/log")"
}
build_date() { sed -n '/<key>BuildDate<\/key>/{n;s/^[ \t]*<string>\(.*\)<\/string>.*/\1/p}' \
    "$app/Contents/Info.plist"; }
# Builds; then the bundle must be signed `signatures` times in all, the signature must cover
# all of it, the icon included, and BuildDate must be a date.
build_sealed() {
    cmake --build "$build" >"$scratch/log" 2>&1 || fail "$1: build: $(cat "$scratch/log")"
    "$here/fake_codesign.sh" --verify --deep --strict "$app" 2>"$scratch/log" ||
        fail "$1: $(cat "$scratch/log")"
    grep -q ' \./Contents/Resources/Vellumor\.icns$' "$app/Contents/_CodeSignature/CodeResources" ||
        fail "$1: the icon is not sealed"
    build_date | grep -Eqx '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} UTC' ||
        fail "$1: BuildDate is '$(build_date)'"
    [ "$(grep -c -- --sign "$build/codesign-calls.log")" = "$2" ] || fail "$1: not signed $2 times"
}

echo 'int main() { return 0; }' >"$scratch/main.cpp"
configure "$@"
build_sealed "first build" 1
build_sealed "rebuild with nothing changed" 1
configure "$@"
# What makes this case worth checking: configuring writes Info.plist anew, unsigned.
[ "$(build_date)" = Unknown ] || fail "re-configure left BuildDate '$(build_date)'"
build_sealed "rebuild after a re-configure" 2
echo 'int main() { return 1; }' >"$scratch/main.cpp"
build_sealed "rebuild after a relink" 3
echo "bundle sealed after every build ($1)"
