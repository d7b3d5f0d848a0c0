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
root="$(cd "$here/../.." && pwd)"
generator="$1"
cxx="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
build="$scratch/build"
app="$build/Vellumor.app"

fail() {
    echo "FAILED: $*"
    exit 1
}
case "$generator" in
Ninja) command -v ninja >/dev/null || { echo "SKIPPED: ninja not found"; exit 77; } ;;
"Unix Makefiles") command -v make >/dev/null || { echo "SKIPPED: make not found"; exit 77; } ;;
esac

configure() {
    cmake -S "$here/project" -B "$build" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
        -DVELLUMOR_SOURCE_DIR="$root" -DVELLUMOR_MAIN="$scratch/main.cpp" \
        -DVELLUMOR_PLUTIL="$here/fake_plutil.sh" -DVELLUMOR_CODESIGN="$here/fake_codesign.sh" \
        >"$scratch/log" 2>&1 || fail "configure: $(cat "$scratch/log")"
}
build() {
    cmake --build "$build" >"$scratch/log" 2>&1 || fail "build: $(cat "$scratch/log")"
}
signatures() { grep -c -- --sign "$build/codesign-calls.log"; }
build_date() {
    awk '/<key>BuildDate<\/key>/ { getline; gsub(/^[ \t]*<string>|<\/string>.*$/, ""); print }' \
        "$app/Contents/Info.plist"
}
# The bundle is signed, the signature covers all of it, and BuildDate is a date.
expect_sealed() {
    "$here/fake_codesign.sh" --verify --deep --strict "$app" 2>"$scratch/log" ||
        fail "$1: $(cat "$scratch/log")"
    grep -q ' \./Contents/Resources/Vellumor\.icns$' "$app/Contents/_CodeSignature/CodeResources" ||
        fail "$1: the icon is not sealed"
    build_date | grep -Eqx '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} UTC' ||
        fail "$1: BuildDate is '$(build_date)'"
}

echo 'int main() { return 0; }' >"$scratch/main.cpp"
configure
build
expect_sealed "first build"
[ "$(signatures)" = 1 ] || fail "first build: signed $(signatures) times"

build
expect_sealed "rebuild with nothing changed"
[ "$(signatures)" = 1 ] || fail "rebuild with nothing changed: signed again"

configure
# What makes this case worth checking: configuring writes Info.plist anew, unsigned.
[ "$(build_date)" = Unknown ] ||
    fail "re-configure left BuildDate '$(build_date)': this check no longer covers that case"
build
expect_sealed "rebuild after a re-configure"
[ "$(signatures)" = 2 ] || fail "rebuild after a re-configure: $(signatures) signatures"

echo 'int main() { return 1; }' >"$scratch/main.cpp"
build
expect_sealed "rebuild after a relink"
[ "$(signatures)" = 3 ] || fail "rebuild after a relink: $(signatures) signatures"

echo "bundle sealed after every build ($generator)"
