#!/usr/bin/env bash
# Runs the demo window under Xvfb and saves a screenshot of the screen as a PNG.
#   scripts/screenshot.sh BUILD PNG   (VELOMARK and LIDAR_SIM as for demo.sh)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
png=$(realpath -m "${2:-screenshot.png}")
root=$(cd "$(dirname "$0")/.." && pwd)
xvfb-run -a -s "-screen 0 1100x760x24" "$root/scripts/demo.sh" "$build" bash -c "
  '${VELOMARK:-$build/src/app/velomark}' &
  app=\$!
  sleep \${SCREENSHOT_DELAY:-4}
  import -window root '$png'
  mogrify -trim +repage '$png'
  kill \$app; wait \$app 2>/dev/null || true
" >/dev/null
echo "screenshot: $png"
