#!/usr/bin/env bash
# Checks the Debian package made from a built tree: cpack -G DEB writes
# vellumor_<version>_<arch>.deb; its Depends come from the binary's libraries; unpacked it
# holds the stripped program and its module, which report its version, and its desktop files; lintian finds
# no error in it; appstreamcli accepts its metainfo, which names its desktop entry and this
# release; its manual page renders without a warning and describes every menu entry and every
# option that `vellumor --help` lists.
#
# Usage: check_deb.sh CPACK BUILD_DIR SOURCE_DIR VERSION
# Exit status 77 means skipped: a tool it needs is not installed.
set -uo pipefail
export LC_ALL=C.UTF-8
cpack="$1" build="$2" source="$3" version="$4"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps file lintian appstreamcli man; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool not found"; exit 77; }
done

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/log" 2>&1 ||
    fail "cpack: $(cat "$scratch/log")"
deb="$scratch/out/vellumor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$scratch/out")"
depends=", $(dpkg-deb -f "$deb" Depends),"
for library in libc6 libqt6widgets6 libxcb1 libxcb-randr0 libplist3; do
    [[ "$depends" =~ ,\ $library[\ ,] ]] || fail "Depends lacks $library: $depends"
done

root="$scratch/root" id=org.vellumor.Vellumor
dpkg -x "$deb" "$root" || fail "dpkg -x $deb"
for file in bin/vellumor share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
    share/metainfo/$id.metainfo.xml share/man/man1/vellumor.1.gz \
    share/doc/vellumor/autostart/$id.desktop share/doc/vellumor/copyright \
    share/doc/vellumor/changelog.gz; do
    [ -f "$root/usr/$file" ] || fail "the package lacks /usr/$file"
done
# The module in the program's private directory, where GNUInstallDirs puts libraries.
module="$(find "$root/usr/lib" -path '*/vellumor/vellumor-program.so')"
[ -n "$module" ] || fail "the package lacks /usr/lib/.../vellumor/vellumor-program.so"
for binary in "$root/usr/bin/vellumor" "$module"; do
    file "$binary" | grep -q ', stripped' || fail "$binary is not stripped"
done
output="$(env -u DISPLAY "$root/usr/bin/vellumor" --version 2>&1)"
[ "$output" = "vellumor $version" ] || fail "vellumor --version said: $output"
allow_root=() && [ "$(id -u)" = 0 ] && allow_root=(--allow-root)
lintian "${allow_root[@]}" "$deb" >"$scratch/log" 2>&1
! grep -q '^E: ' "$scratch/log" || fail "lintian reports errors: $(cat "$scratch/log")"

metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$scratch/log" 2>&1 ||
    fail "appstreamcli rejects the metainfo: $(cat "$scratch/log")"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo names no launchable $id.desktop"
grep -q "<release version=\"$version\" date=\"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\"/>" "$metainfo" ||
    fail "the metainfo has no release $version with a date"

MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vellumor.1.gz" 2>"$scratch/warnings" |
    sed 's/.\x08//g' >"$scratch/page"
[ -s "$scratch/page" ] && [ ! -s "$scratch/warnings" ] ||
    fail "the manual page does not render cleanly: $(cat "$scratch/warnings")"
grep -q "^Vellumor $version  " "$scratch/page" || fail "the manual page names no version $version"
entries="$(sed -n 's/.*addItemWithTitle("\([^"]*\)".*/\1/p' "$source/main/AppDelegate.cpp")"
options="$("$root/usr/bin/vellumor" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')"
[ -n "$entries" ] && [ -n "$options" ] || fail "found no menu entries or no options"
while read -r entry; do
    grep -qx "       $entry.*" "$scratch/page" || fail "the manual page lacks the entry '$entry'"
done <<<"$entries"
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$scratch/page" >"$scratch/options"
for option in $options; do
    grep -q "^       $option\b" "$scratch/options" || fail "the manual page lacks $option"
done
echo "PASSED: $(basename "$deb")"
