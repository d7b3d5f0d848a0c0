#!/usr/bin/env bash
# Checks of the cocoa backend that run without a Mac.
#
# The backend's Objective-C++ is compiled, syntax only, against GNUstep's AppKit and
# Foundation headers, with platform/cocoa/check/GNUstepShim.h force-included for the macOS 11
# API that GNUstep lacks. A misspelt class, selector or selector literal must be an error, and
# the mutation checks prove that it is.
#
# Usage: check_cocoa.sh COMPILER CHECK      COMPILER: gcc (GCC's Objective-C++) or clang
#          CHECK: compile             every backend source compiles cleanly
#                 misspelt-selector   a copy sending orderFrnt: instead of orderFront: fails
#                 misspelt-class      a copy naming NSWindw instead of NSWindow fails
#                 undeclared-selector a copy with a misspelt @selector(...) literal fails
# Exit status 77 means skipped: a tool the check needs is not installed.
set -uo pipefail
export LC_ALL=C

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cocoa="$root/platform/cocoa"
shim="$cocoa/check/GNUstepShim.h"
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

# --- Compiling against GNUstep ----------------------------------------------------------------

gnustep_flags=()
compiler=""
compiler_flags=()

setup_gnustep() {
    command -v gnustep-config >/dev/null ||
        skip "gnustep-config not found; install libgnustep-gui-dev"
    local flag
    for flag in $(gnustep-config --objc-flags); do
        case "$flag" in
        -D*) gnustep_flags+=("$flag") ;;
        # System headers: their own warnings are not the backend's.
        -I*) [ -d "${flag#-I}" ] && gnustep_flags+=(-isystem "${flag#-I}") ;;
        esac
    done
    local headers
    headers="$(gnustep-config --variable=GNUSTEP_SYSTEM_HEADERS)"
    [ -f "$headers/AppKit/AppKit.h" ] || skip "GNUstep's AppKit headers not found in $headers"
}

# The project's warnings (top-level CMakeLists.txt), as the macOS build compiles the backend.
project_warnings=(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Wunused -Woverloaded-virtual -Wconversion -Wsign-conversion
    -Wnull-dereference -Wdouble-promotion -Wformat=2)

setup_compiler() {
    case "$1" in
    gcc)
        command -v g++ >/dev/null || skip "g++ not found"
        echo '@class Probe;' | g++ -x objective-c++ -fsyntax-only - 2>/dev/null ||
            skip "g++ cannot compile Objective-C++; install gobjc++"
        compiler=g++
        # GCC's "may not respond to" and "no method found" warnings have no option of their
        # own; every warning fails the check (see clean below) instead of -Werror.
        compiler_flags=(-Wall -Wextra -Wundeclared-selector)
        ;;
    clang)
        command -v clang++ >/dev/null || skip "clang++ not found"
        # clang reads the Objective-C runtime headers of GCC's libobjc, as GNUstep does here.
        local objc
        objc="$(gcc -print-file-name=include 2>/dev/null)"
        [ -f "$objc/objc/objc.h" ] || skip "GCC's objc/objc.h not found; install gobjc++"
        compiler=clang++
        # GNUstep 0.29 declares NSMenuDelegate's methods required, macOS optional: -Wprotocol
        # would ask for methods that AppKit treats as absent on purpose.
        compiler_flags=(-fobjc-runtime=gcc -isystem "$objc" "${project_warnings[@]}"
            -Wundeclared-selector -Wno-protocol -Werror)
        ;;
    *) fail "unknown compiler '$1'" ;;
    esac
}

# A copy of `source` in the scratch directory that `compiler` can read. GCC 12's
# Objective-C++ has no @autoreleasepool; for GCC the keyword is dropped and its block stays.
prepare() {
    local source="$1" copy="$scratch/$(basename "$1")"
    if [ "$compiler" = g++ ]; then
        sed 's/@autoreleasepool//g' "$source" >"$copy"
    else
        cp "$source" "$copy"
    fi
    echo "$copy"
}

# GCC 12 reports GNUstep's required NSMenuDelegate methods as missing from VLMMenuBridge,
# without an option to turn that off; only those lines are let through.
gnustep_protocol_noise="incomplete implementation of class 'VLMMenuBridge'|does not fully \
implement the 'NSMenuDelegate' protocol|method definition for '-(menuHasKeyEquivalent:forEvent:\
target:action:|menuWillOpen:|numberOfItemsInMenu:|menuDidClose:|menu:willHighlightItem:|\
confinementRectForMenu:onScreen:|menu:updateItem:atIndex:shouldCancel:)' not found"

# Compiles `file` syntax only, leaving the diagnostics in $scratch/diagnostics; succeeds when
# the compiler accepts it without a single warning.
clean() {
    local file="$1" status
    "$compiler" -x objective-c++ -std=c++20 -fsyntax-only -fobjc-exceptions \
        -fconstant-string-class=NSConstantString "${gnustep_flags[@]}" -I"$root" \
        -include "$shim" "${compiler_flags[@]}" "$file" >"$scratch/diagnostics" 2>&1
    status=$?
    grep -Ev "$gnustep_protocol_noise" "$scratch/diagnostics" >"$scratch/reported"
    [ "$status" -eq 0 ] && ! grep -Eq "(warning|error):" "$scratch/reported"
}

check_compile() {
    local source failed=0 count=0
    for source in "$cocoa"/*.mm; do
        [ -f "$source" ] || continue
        count=$((count + 1))
        if clean "$(prepare "$source")"; then
            echo "ok: ${source#"$root"/}"
        else
            echo "not ok: ${source#"$root"/}"
            cat "$scratch/reported"
            failed=1
        fi
    done
    [ "$count" -gt 0 ] || fail "no Objective-C++ sources found under $cocoa"
    [ "$failed" -eq 0 ] || fail "$compiler rejects the backend (diagnostics above)"
    echo "PASSED: $count sources compile with $compiler against GNUstep"
}

# Replaces the first `from` in a copy of `file` by `to` and expects the compiler to reject the
# copy naming `name`, while it accepts the copy unchanged: the rejection is the mistake's doing.
check_mutation() {
    local file="$cocoa/$1" from="$2" to="$3" name="$4" copy
    copy="$(prepare "$file")"
    clean "$copy" || { cat "$scratch/reported"; fail "the unchanged copy of $1 does not compile"; }
    FROM="$from" TO="$to" perl -i -pe \
        'if (!$done && (my $at = index($_, $ENV{FROM})) >= 0) {
             substr($_, $at, length $ENV{FROM}) = $ENV{TO}; $done = 1 }' "$copy"
    grep -qF "$to" "$copy" || fail "'$from' not found in $1: the mutation did not apply"
    if clean "$copy"; then
        fail "$compiler accepts $1 with '$from' misspelt as '$to'"
    fi
    grep -F "$name" "$scratch/reported" | head -3
    grep -qF "$name" "$scratch/reported" ||
        { cat "$scratch/reported"; fail "$compiler rejects $1 without naming '$name'"; }
    echo "PASSED: $compiler rejects '$name' in $1"
}

# --- Dispatch ---------------------------------------------------------------------------------

case "${1:-}" in
gcc | clang)
    setup_gnustep
    setup_compiler "$1"
    case "${2:-}" in
    compile) check_compile ;;
    misspelt-selector)
        check_mutation CocoaWindow.mm "orderFront:nil]" "orderFrnt:nil]" "orderFrnt:"
        ;;
    misspelt-class) check_mutation CocoaViews.mm "NSWindow*" "NSWindw*" "NSWindw" ;;
    undeclared-selector)
        check_mutation CocoaPlatform.mm "@selector(screenParametersChanged:)" \
            "@selector(screenParameterChanged:)" "screenParameterChanged:"
        ;;
    *) fail "unknown check '${2:-}'" ;;
    esac
    ;;
*) fail "usage: check_cocoa.sh gcc|clang CHECK" ;;
esac
