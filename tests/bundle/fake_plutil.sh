#!/usr/bin/env bash
# Stands in for macOS's plutil where there is none, for the one call the bundle's build makes:
# replacing the string value of a key already in an XML property list.
#   fake_plutil.sh -replace KEY -string VALUE FILE
set -euo pipefail

if [ $# -ne 5 ] || [ "$1" != -replace ] || [ "$3" != -string ]; then
    echo "fake_plutil.sh: unexpected call: $*" >&2
    exit 2
fi
key="$2" value="$4" file="$5"
grep -q "<key>$key</key>" "$file" || { echo "fake_plutil.sh: no $key in $file" >&2; exit 1; }
awk -v key="<key>$key</key>" -v value="$value" '
    replace { match($0, /^[ \t]*/); print substr($0, 1, RLENGTH) "<string>" value "</string>"
              replace = 0; next }
    index($0, key) { replace = 1 }
    { print }' "$file" >"$file.new"
mv "$file.new" "$file"
