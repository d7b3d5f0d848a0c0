#!/usr/bin/env bash
# Checks the manual page the build writes: man renders it without a warning; it has the
# usual sections, this version, every entry of the tray menu and every option that
# `vellumor --help` lists.
#
# Usage: check_man_page.sh MAN_PAGE VELLUMOR_BINARY SOURCE_DIR VERSION
# Exit status 77 means skipped: man (man-db) is not installed.
set -uo pipefail
export LC_ALL=C.UTF-8

page="$1"
binary="$2"
source="$3"
version="$4"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}
command -v man >/dev/null || { echo "SKIPPED: man not found"; exit 77; }

MANWIDTH=80 man --warnings -l "$page" >"$scratch/page" 2>"$scratch/warnings" ||
    fail "man could not render $page: $(cat "$scratch/warnings")"
[ ! -s "$scratch/warnings" ] || fail "man warns: $(cat "$scratch/warnings")"
# Plain text, without the overstrike that marks bold and underlined words.
sed 's/.\x08//g' "$scratch/page" >"$scratch/text"

for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES; do
    grep -qx "$section" "$scratch/text" || fail "no $section section"
done
grep -q "^Vellumor $version  " "$scratch/text" || fail "the footer names no version $version"

# The menu's entries as the program makes them.
entries="$(sed -n 's/.*addItemWithTitle("\([^"]*\)".*/\1/p' "$source/main/AppDelegate.cpp")"
[ -n "$entries" ] || fail "found no menu entries in main/AppDelegate.cpp"
while read -r entry; do
    grep -qx "       $entry.*" "$scratch/text" || fail "the menu entry '$entry' is not described"
done <<<"$entries"

# The options as the program lists them, each described under OPTIONS.
options="$("$binary" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')"
[ -n "$options" ] || fail "vellumor --help lists no options"
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$scratch/text" >"$scratch/options"
for option in $options; do
    grep -q "^       $option\b" "$scratch/options" || fail "the option $option is not described"
done
echo "PASSED: $(echo $options) and $(echo "$entries" | wc -l) menu entries"
