#!/usr/bin/env bash
# Stands in for macOS's codesign where there is none, with what matters to the bundle's build:
# signing seals every file of the bundle (executable, Info.plist, resources) by its SHA-256,
# and verifying fails when any of them changed, appeared or went missing since. Like
# codesign, signing rewrites the executable. Each call is logged to codesign-calls.log beside
# the bundle.
#   fake_codesign.sh --force --sign - BUNDLE
#   fake_codesign.sh --verify --deep --strict BUNDLE
set -euo pipefail

bundle="${!#}"
seal="$bundle/Contents/_CodeSignature/CodeResources"
echo "$*" >>"$(dirname "$bundle")/codesign-calls.log"

sums() {
    (cd "$bundle" && find . -type f ! -path './Contents/_CodeSignature/*' | LC_ALL=C sort |
        while IFS= read -r file; do sha256sum "$file"; done)
}

case "$*" in
"--force --sign - $bundle")
    touch "$bundle"/Contents/MacOS/*
    mkdir -p "$(dirname "$seal")"
    sums >"$seal"
    ;;
"--verify --deep --strict $bundle")
    if [ ! -f "$seal" ]; then
        echo "$bundle: code object is not signed at all" >&2
        exit 1
    fi
    if ! sums | cmp -s - "$seal"; then
        echo "$bundle: a sealed resource is missing or invalid" >&2
        diff "$seal" <(sums) >&2 || true
        exit 1
    fi
    ;;
*)
    echo "fake_codesign.sh: unexpected call: $*" >&2
    exit 2
    ;;
esac
