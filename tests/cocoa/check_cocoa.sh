#!/usr/bin/env bash
# Checks of the cocoa backend that run without a Mac.
#
# The backend's Objective-C++ is compiled, syntax only, by clang (as on macOS, with the
# project's warnings as errors) against GNUstep's AppKit and Foundation headers, with
# platform/cocoa/check/GNUstepShim.h force-included for the macOS 11 API that GNUstep lacks.
# A misspelt class, selector or selector literal must be an error, and the mutation checks
# prove that it is.
#
# Usage: check_cocoa.sh CHECK
#          CHECK: compile             every backend source compiles cleanly
#                 misspelt-selector   a copy sending orderFrnt: instead of orderFront: fails
#                 misspelt-class      a copy naming NSWindw instead of NSWindow fails
#                 undeclared-selector a copy with a misspelt @selector(...) literal fails
# Exit status 77 means skipped: a tool the check needs is not installed.
set -uo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/../.." && pwd)"
cocoa="$root/platform/cocoa"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*"
    exit 1
}

command -v gnustep-config >/dev/null || skip "gnustep-config not found; install libgnustep-gui-dev"
command -v clang++ >/dev/null || skip "clang++ not found"
[ -f "$(gnustep-config --variable=GNUSTEP_SYSTEM_HEADERS)/AppKit/AppKit.h" ] ||
    skip "GNUstep's AppKit headers not found"
# clang reads the Objective-C runtime headers of GCC's libobjc, as GNUstep does here.
objc="$(gcc -print-file-name=include 2>/dev/null)"
[ -f "$objc/objc/objc.h" ] || skip "GCC's objc/objc.h not found; install gobjc++"

flags=(-x objective-c++ -std=c++20 -fsyntax-only -fobjc-exceptions -fobjc-runtime=gcc
    -fconstant-string-class=NSConstantString -isystem "$objc" -I"$root"
    -include "$cocoa/check/GNUstepShim.h"
    # The project's warnings (top-level CMakeLists.txt). GNUstep 0.29 declares
    # NSMenuDelegate's methods required, macOS optional: -Wprotocol would ask for methods
    # that AppKit treats as absent on purpose.
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
    -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion
    -Wformat=2 -Wundeclared-selector -Wno-protocol -Werror)
for flag in $(gnustep-config --objc-flags); do
    case "$flag" in
    -D*) flags+=("$flag") ;;
    # System headers: their own warnings are not the backend's.
    -I*) [ -d "${flag#-I}" ] && flags+=(-isystem "${flag#-I}") ;;
    esac
done

# Compiles `file`, leaving the diagnostics in $scratch/reported; whether clang accepts it.
clean() { clang++ "${flags[@]}" "$1" >"$scratch/reported" 2>&1; }

check_compile() {
    local source count=0
    for source in "$cocoa"/*.mm; do
        count=$((count + 1))
        clean "$source" || { cat "$scratch/reported"; fail "clang rejects ${source#"$root"/}"; }
    done
    [ "$count" -gt 1 ] || fail "no Objective-C++ sources found under $cocoa"
    echo "PASSED: $count sources compile against GNUstep"
}

# Replaces the first `from` in a copy of `file` by `to` and expects clang to reject the copy
# with an error naming `name`; the unchanged file compiles, so the rejection is the mistake's
# doing.
check_mutation() {
    local copy="$scratch/$1"
    clean "$cocoa/$1" || { cat "$scratch/reported"; fail "$1 does not compile unchanged"; }
    FROM="$2" TO="$3" perl -pe 'if (!$done && (my $at = index($_, $ENV{FROM})) >= 0) {
        substr($_, $at, length $ENV{FROM}) = $ENV{TO}; $done = 1 }' "$cocoa/$1" >"$copy"
    grep -qF "$3" "$copy" || fail "'$2' not found in $1: the mutation did not apply"
    clean "$copy" && fail "clang accepts $1 with '$2' misspelt as '$3'"
    grep "error:" "$scratch/reported" | grep -F "$4" ||
        { cat "$scratch/reported"; fail "clang rejects $1 without naming '$4'"; }
    echo "PASSED: clang rejects '$4' in $1"
}

case "${1:-}" in
compile) check_compile ;;
misspelt-selector) check_mutation CocoaWindow.mm "orderFront:nil]" "orderFrnt:nil]" "orderFrnt:" ;;
misspelt-class) check_mutation CocoaViews.mm "NSWindow*" "NSWindw*" "NSWindw" ;;
undeclared-selector)
    check_mutation CocoaPlatform.mm "@selector(screenParametersChanged:)" \
        "@selector(screenParameterChanged:)" "screenParameterChanged:"
    ;;
*) fail "usage: check_cocoa.sh compile|misspelt-selector|misspelt-class|undeclared-selector" ;;
esac
