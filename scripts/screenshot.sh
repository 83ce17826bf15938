#!/usr/bin/env bash
# Runs the window under Xvfb and saves a screenshot of the screen as a PNG.
set -euo pipefail
build=${1:-build}
png=${2:-screenshot.png}
home=$(mktemp -d -t velomark-shot-XXXXXX)
trap 'rm -rf "$home"' EXIT
xvfb-run -a -s "-screen 0 1100x760x24" bash -c "
  HOME='$home' XDG_DATA_HOME='$home/.local/share' '$build/src/app/velomark' &
  app=\$!
  sleep \${SCREENSHOT_DELAY:-3}
  import -window root '$png'
  kill \$app; wait \$app 2>/dev/null || true
"
echo "screenshot: $png"
