#!/usr/bin/env bash
# Stands in for macOS's codesign: signing seals every file of the bundle by its SHA-256 and,
# like codesign, rewrites the executable; verifying fails when any of them changed, appeared
# or went missing since. Each call is logged to codesign-calls.log beside the bundle.
#   fake_codesign.sh --force --sign - BUNDLE  |  fake_codesign.sh --verify --deep --strict BUNDLE
set -euo pipefail
bundle="${!#}"
seal="$bundle/Contents/_CodeSignature/CodeResources"
echo "$*" >>"$(dirname "$bundle")/codesign-calls.log"
sums() { (cd "$bundle" && find . -type f ! -path './Contents/_CodeSignature/*' | LC_ALL=C sort |
    xargs -d '\n' sha256sum); }
case "$*" in
"--force --sign - $bundle")
    touch "$bundle"/Contents/MacOS/*
    mkdir -p "$(dirname "$seal")"
    sums >"$seal"
    ;;
"--verify --deep --strict $bundle")
    [ -f "$seal" ] && sums | cmp -s - "$seal" ||
        { echo "$bundle: unsigned, or a sealed file is missing or changed" >&2; exit 1; }
    ;;
*) echo "fake_codesign.sh: unexpected call: $*" >&2; exit 2 ;;
esac
