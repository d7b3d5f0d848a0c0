#!/usr/bin/env bash
# Stands in for macOS's plutil, for the one call the bundle's build makes: replacing the
# string value of a key already in an XML property list.
#   fake_plutil.sh -replace KEY -string VALUE FILE
set -euo pipefail
[ $# -eq 5 ] && [ "$1" = -replace ] && [ "$3" = -string ] ||
    { echo "fake_plutil.sh: unexpected call: $*" >&2; exit 2; }
grep -q "<key>$2</key>" "$5" || { echo "fake_plutil.sh: no $2 in $5" >&2; exit 1; }
KEY="$2" VALUE="$4" perl -0pi -e 's|(<key>\Q$ENV{KEY}\E</key>\s*<string>)[^<]*|$1$ENV{VALUE}|' "$5"
