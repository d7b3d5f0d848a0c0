#!/usr/bin/env bash
# Regenerates Vellumor.icns from Vellumor.svg (or writes it to OUTPUT when given). The .icns
# is kept in the repository, so that a macOS build needs neither tool; run this after changing
# the drawing.
# Usage: make_icns.sh [OUTPUT]
# Needs rsvg-convert (Debian: librsvg2-bin) and png2icns (Debian: icnsutils).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

pngs=()
for size in 16 32 48 128 256 512 1024; do
    rsvg-convert -w "$size" -h "$size" "$here/Vellumor.svg" -o "$scratch/icon_$size.png"
    pngs+=("$scratch/icon_$size.png")
done
png2icns "${1:-$here/Vellumor.icns}" "${pngs[@]}" >/dev/null
