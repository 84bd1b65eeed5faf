#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb that is stopped afterwards.
# Usage: with-xvfb.sh COMMAND [ARGUMENTS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
dir=$(mktemp -d)
trap 'e2e_stop_xvfb; rm -rf "$dir"' EXIT
e2e_start_xvfb 1024x768 "$dir" || exit 1
"$@"
