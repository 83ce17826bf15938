#!/usr/bin/env bash
# The demo: the window in a throw-away home folder.
set -euo pipefail
build=${1:-build}
home=$(mktemp -d -t velomark-demo-XXXXXX)
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/.local/share" "$build/src/app/velomark"
