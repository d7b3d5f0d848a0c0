#!/usr/bin/env bash
# Checks the Debian package made from a built tree: cpack -G DEB writes
# vellumor_<version>_<arch>.deb; its Depends come from the binary's libraries; unpacked into
# a scratch root it holds the stripped program, its desktop files and documentation; the
# unpacked program starts and reports its version; lintian finds no error in it.
#
# Usage: check_deb.sh CPACK BUILD_DIR VERSION
# Exit status 77 means skipped: dpkg-deb, cpack's dpkg-shlibdeps or lintian is not installed.
set -uo pipefail
export LC_ALL=C

cpack="$1"
build="$2"
version="$3"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}
for tool in dpkg-deb dpkg-shlibdeps file lintian; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool not found"; exit 77; }
done

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$scratch/cpack.log")"
deb="$scratch/out/vellumor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$scratch/out")"

# dpkg-shlibdeps names the libraries the binary was linked with, Qt's and xcb's among them.
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libqt6widgets6 libxcb1 libxcb-randr0 libplist3; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
        fail "Depends lacks $library: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root" || fail "dpkg -x $deb"
for file in usr/bin/vellumor \
    usr/share/applications/org.vellumor.Vellumor.desktop \
    usr/share/icons/hicolor/scalable/apps/org.vellumor.Vellumor.svg \
    usr/share/metainfo/org.vellumor.Vellumor.metainfo.xml usr/share/man/man1/vellumor.1.gz \
    usr/share/doc/vellumor/autostart/org.vellumor.Vellumor.desktop \
    usr/share/doc/vellumor/copyright usr/share/doc/vellumor/changelog.gz; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
file "$root/usr/bin/vellumor" | grep -q ', stripped' ||
    fail "the binary is not stripped: $(file "$root/usr/bin/vellumor")"

# --version answers before any display is needed.
output="$(env -u DISPLAY "$root/usr/bin/vellumor" --version 2>&1)" ||
    fail "the unpacked vellumor --version failed: $output"
[ "$output" = "vellumor $version" ] || fail "the unpacked vellumor --version said: $output"

# lintian refuses to run as root unless told that it may.
allow_root=()
[ "$(id -u)" = 0 ] && allow_root=(--allow-root)
lintian "${allow_root[@]}" "$deb" >"$scratch/lintian.log" 2>&1
if grep -q '^E: ' "$scratch/lintian.log"; then
    fail "lintian reports errors: $(cat "$scratch/lintian.log")"
fi
cat "$scratch/lintian.log"
echo "PASSED: $(basename "$deb")"
