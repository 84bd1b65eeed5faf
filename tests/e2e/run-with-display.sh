#!/usr/bin/env bash
# Runs a Windows test program that creates windows: in the e2e Wine prefix,
# with a fresh Wine server (whose desktop then belongs to this display) and a
# private Xvfb, all stopped afterwards. The unit tests' own prefix cannot serve:
# its desktop may have been started by a test without a display.
# Usage: run-with-display.sh BUILD_DIR PROGRAM [ARGUMENTS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
TW_E2E_PREFIX="$(cd "$1" && pwd)/e2e-wineprefix"
shift
dir=$(mktemp -d)
trap 'e2e_stop; rm -rf "$dir"' EXIT
e2e_wine_setup || { echo "the Wine prefix could not be prepared"; exit 1; }
wineserver -k >/dev/null 2>&1 || true
e2e_start_xvfb 1024x768 "$dir" || exit 1
"$TW_WINE" "$@"
