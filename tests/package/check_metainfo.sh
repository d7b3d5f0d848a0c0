#!/usr/bin/env bash
# Checks the AppStream metainfo the build writes: appstreamcli accepts it (offline); it names
# the desktop entry the build installs, the screenshot kept in the source tree and this
# version.
#
# Usage: check_metainfo.sh METAINFO SOURCE_DIR VERSION
# Exit status 77 means skipped: appstreamcli is not installed.
set -uo pipefail
export LC_ALL=C

metainfo="$1"
data="$2/platform/qt/data"
version="$3"

fail() {
    echo "FAILED: $*"
    exit 1
}
command -v appstreamcli >/dev/null || { echo "SKIPPED: appstreamcli not found"; exit 77; }

appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $metainfo"

# The text of the first element of that name; the file keeps each such element on one line.
element() { sed -n "s|^ *<$1[^>]*>\(.*\)</$1>$|\1|p" "$metainfo" | head -n1; }

id="$(element id)"
launchable="$(element launchable)"
[ "$launchable" = "$id.desktop" ] || fail "the launchable '$launchable' is not the id '$id'"
[ -f "$data/$launchable" ] || fail "no desktop entry $launchable in $data"

image="$(element image)"
[[ "$image" == https://*/screenshot.png ]] || fail "the screenshot is at '$image'"
file "$data/screenshot.png" | grep -q 'PNG image data' || fail "$data/screenshot.png is no PNG"

grep -q "<release version=\"$version\" date=\"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\"/>" "$metainfo" ||
    fail "no release $version with a date: $(grep '<release' "$metainfo")"
echo "PASSED: $id"
