#!/usr/bin/env bash
# Checks of the cocoa backend that run without a Mac.
#
# The backend's Objective-C++ is compiled, syntax only, against GNUstep's AppKit and
# Foundation headers, with platform/cocoa/check/GNUstepShim.h force-included for the macOS 11
# API that GNUstep lacks. A misspelt class, selector or selector literal must be an error, and
# the mutation checks prove that it is.
#
# Usage: check_cocoa.sh COMPILER CHECK      COMPILER: gcc (GCC's Objective-C++) or clang
#          CHECK: compile             every backend and cocoa test source compiles cleanly
#                 misspelt-selector   a copy sending orderFrnt: instead of orderFront: fails
#                 misspelt-class      a copy naming NSWindw instead of NSWindow fails
#                 undeclared-selector a copy with a misspelt @selector(...) literal fails
#        check_cocoa.sh shim          the shim declares nothing GNUstep's headers declare
#        check_cocoa.sh plist         Info.plist.in makes a property list macOS accepts
#        check_cocoa.sh icon          Vellumor.icns is well formed and made from Vellumor.svg
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
    for source in "$cocoa"/*.mm "$here"/*.mm; do
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

# --- The shim declares only what GNUstep lacks --------------------------------------------------

# Prints one line per declaration of `shim` that the headers under the given directories
# already have: a method of the same class or one of its superclasses, a class, or a C name.
shim_redeclarations() {
    perl -e '
use strict;
use warnings;
use File::Find;

sub text {
    my ($file) = @_;
    open(my $in, "<", $file) or die "$file: $!";
    local $/;
    my $text = <$in>;
    $text =~ s{/\*.*?\*/}{}gs;
    $text =~ s{//[^\n]*}{}g;
    return $text;
}

# The selectors a class body declares: methods and declared properties.
sub selectors {
    my ($body) = @_;
    my @found;
    # A method starts a line and runs to its semicolon (or the brace of a definition).
    while ($body =~ /^\s*[-+]\s*(\([^;{]*)[;{]/mg) {
        (my $bare = $1) =~ s/^\s*//;
        1 while $bare =~ s/\([^()]*\)//g;
        my @keywords = $bare =~ /(\w+)\s*:/g;
        push @found, @keywords ? join("", map { "$_:" } @keywords) : ($bare =~ /(\w+)/)[0];
    }
    while ($body =~ /^\s*\@property\b[^;]*?(\w+)\s*;/mg) {
        push @found, $1, "set" . ucfirst($1) . ":";
    }
    return @found;
}

# class => {selector => 1}, class => superclass, and every top-level word, per header set.
sub scan {
    my ($text, $methods, $parents, $classes) = @_;
    while ($text =~ /\@interface\s+(\w+)\s*(?::\s*(\w+))?\s*(\(\s*\w*\s*\))?(.*?)\@end/gs) {
        my ($class, $parent, $category, $body) = ($1, $2, $3, $4);
        $classes->{$class} = 1 unless $category;
        $parents->{$class} = $parent if $parent;
        $methods->{$class}{$_} = 1 for selectors($body);
    }
}

my ($shimFile, @dirs) = @ARGV;
my (%methods, %parents, %classes, $all);
find({ no_chdir => 1, wanted => sub {
    return unless /\.h$/;
    my $text = text($File::Find::name);
    $all .= $text;
    scan($text, \%methods, \%parents, \%classes);
} }, @dirs);

my $shim = text($shimFile);
my (%shimMethods, %shimParents, %shimClasses);
scan($shim, \%shimMethods, \%shimParents, \%shimClasses);
for my $class (sort keys %shimClasses) {
    print "class $class\n" if $classes{$class};
}
for my $class (sort keys %shimMethods) {
    next if $shimClasses{$class};
    for my $selector (sort keys %{ $shimMethods{$class} }) {
        for (my $c = $class; defined $c; $c = $parents{$c}) {
            if ($methods{$c}{$selector}) {
                print "method $class $selector (declared on $c)\n";
                last;
            }
        }
    }
}
(my $outside = $shim) =~ s/\@interface.*?\@end//gs;
$outside =~ s/^\s*#.*$//mg;
my %names;
$names{$_} = 1 for $outside =~ /\b(?:typedef\s[^;]*?|enum\s+)(\w+)\s*(?:[:;{])/g;
$names{$_} = 1 for $outside =~ /^\s*(\w+)\s*=/mg;
$names{$_} = 1 for $outside =~ /\b(\w+)\s*\([^)]*\)\s*;/g;
$names{$_} = 1 for $outside =~ /\bconst\s+\w+\s+(\w+)\s*=/g;
for my $name (sort keys %names) {
    print "name $name\n" if $all =~ /\b\Q$name\E\b/;
}
' "$@"
}

check_shim() {
    setup_gnustep
    command -v perl >/dev/null || skip "perl not found"
    local headers dirs=()
    headers="$(gnustep-config --variable=GNUSTEP_SYSTEM_HEADERS)"
    dirs=("$headers/AppKit" "$headers/Foundation" "$headers/GNUstepBase")
    local found
    found="$(shim_redeclarations "$shim" "${dirs[@]}")" || fail "the shim could not be read"
    [ -z "$found" ] || fail "the shim declares what GNUstep already has:
$found"
    # The same reading finds a redeclaration when there is one.
    sed 's|^- (void)setTitlebarAppearsTransparent:(BOOL)titlebarAppearsTransparent;|&\
- (void)orderFront:(id)sender;|' "$shim" >"$scratch/shim.h"
    found="$(shim_redeclarations "$scratch/shim.h" "${dirs[@]}")"
    [ "$found" = "method NSWindow orderFront: (declared on NSWindow)" ] ||
        fail "a redeclared -[NSWindow orderFront:] went unnoticed (found: '$found')"
    echo "PASSED: the shim declares only what GNUstep lacks"
}

# --- Bundle files ----------------------------------------------------------------------------

check_plist() {
    command -v cmake >/dev/null || skip "cmake not found"
    command -v python3 >/dev/null || skip "python3 not found"
    # Configured as CMake configures a bundle's Info.plist template.
    cat >"$scratch/configure.cmake" <<EOF
set(MACOSX_BUNDLE_EXECUTABLE_NAME "Vellumor")
set(MACOSX_BUNDLE_ICON_FILE "Vellumor.icns")
set(MACOSX_BUNDLE_GUI_IDENTIFIER "org.vellumor.Vellumor")
set(MACOSX_BUNDLE_BUNDLE_NAME "Vellumor")
set(MACOSX_BUNDLE_SHORT_VERSION_STRING "1.2.3")
set(MACOSX_BUNDLE_BUNDLE_VERSION "1.2.3")
set(CMAKE_OSX_DEPLOYMENT_TARGET "11.0")
configure_file("$cocoa/Info.plist.in" "$scratch/Info.plist")
EOF
    cmake -P "$scratch/configure.cmake" || fail "Info.plist.in does not configure"
    python3 - "$scratch/Info.plist" <<'EOF' || fail "the configured Info.plist is wrong"
import plistlib
import sys

with open(sys.argv[1], "rb") as source:
    info = plistlib.load(source)
expected = {
    "CFBundleExecutable": "Vellumor",
    "CFBundleIconFile": "Vellumor.icns",
    "CFBundleIdentifier": "org.vellumor.Vellumor",
    "CFBundleName": "Vellumor",
    "CFBundlePackageType": "APPL",
    "CFBundleShortVersionString": "1.2.3",
    "CFBundleVersion": "1.2.3",
    "LSMinimumSystemVersion": "11.0",
    # Booleans, not strings: LaunchServices reads "true" as a string as no menu-bar-only app.
    "LSUIElement": True,
    "NSHighResolutionCapable": True,
}
wrong = {key: info.get(key) for key, value in expected.items()
         if info.get(key) != value or type(info.get(key)) is not type(value)}
if wrong:
    sys.exit(f"unexpected values: {wrong}")
if not isinstance(info.get("BuildDate"), str):
    sys.exit("BuildDate, which the build step replaces and the About window shows, is missing")
leftovers = [key for key, value in info.items() if isinstance(value, str) and "${" in value]
if leftovers:
    sys.exit(f"unconfigured values: {leftovers}")
EOF
    echo "PASSED: Info.plist.in configures to the bundle's property list"
}

check_icon() {
    command -v python3 >/dev/null || skip "python3 not found"
    python3 - "$cocoa/icon/Vellumor.icns" <<'EOF' || fail "Vellumor.icns is damaged"
import struct
import sys

data = open(sys.argv[1], "rb").read()
magic, length = struct.unpack(">4sI", data[:8])
if magic != b"icns" or length != len(data):
    sys.exit(f"header says {magic!r}, {length} bytes; the file has {len(data)}")
types, offset = set(), 8
while offset < len(data):
    kind, size = struct.unpack(">4sI", data[offset:offset + 8])
    if size < 8 or offset + size > len(data):
        sys.exit(f"element {kind!r} at {offset} runs past the end")
    types.add(kind.decode("ascii"))
    offset += size
# From the menu-bar size to the Retina App Store size.
missing = {"is32", "s8mk", "il32", "l8mk", "ic08", "ic09", "ic10"} - types
if missing:
    sys.exit(f"sizes missing: {sorted(missing)}")
EOF
    echo "ok: Vellumor.icns is a well-formed icon family"
    if ! command -v rsvg-convert >/dev/null || ! command -v png2icns >/dev/null; then
        skip "rsvg-convert or png2icns not found (librsvg2-bin, icnsutils): Vellumor.icns is \
well formed, but whether it matches Vellumor.svg is not checked"
    fi
    "$cocoa/icon/make_icns.sh" "$scratch/Vellumor.icns" || fail "make_icns.sh failed"
    cmp -s "$scratch/Vellumor.icns" "$cocoa/icon/Vellumor.icns" ||
        fail "Vellumor.icns is not made from the current Vellumor.svg: run make_icns.sh"
    echo "PASSED: Vellumor.icns is well formed and made from Vellumor.svg"
}

# --- Dispatch ---------------------------------------------------------------------------------

case "${1:-}" in
shim) check_shim ;;
plist) check_plist ;;
icon) check_icon ;;
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
*) fail "usage: check_cocoa.sh gcc|clang CHECK, or check_cocoa.sh shim|plist|icon" ;;
esac
