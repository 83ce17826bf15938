#!/usr/bin/env bash
# Runs the demo window under Xvfb and saves a screenshot of the screen as a PNG; then shows
# the demo lidar's log on the "Speed Chart" tab and saves that as PNG-chart.png.
#   scripts/screenshot.sh BUILD PNG   (VELOMARK and LIDAR_SIM as for demo.sh)
# SCREEN ("1100x760") and QT_SCALE_FACTOR choose the screen, for a look at other sizes.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
png=$(realpath -m "${2:-screenshot.png}")
chart_png="${png%.png}-chart.png"
root=$(cd "$(dirname "$0")/.." && pwd)
screen=${SCREEN:-1100x760}
xvfb-run -a -s "-screen 0 ${screen}x24" "$root/scripts/demo.sh" "$build" bash -c "
  '${VELOMARK:-$build/src/app/velomark}' &
  app=\$!
  sleep \${SCREENSHOT_DELAY:-4}
  import -window root '$png'
  mogrify -trim +repage '$png'
  kill \$app; wait \$app 2>/dev/null || true
" >/dev/null
echo "screenshot: $png"

# The chart tab: the demo lidar's log, retrieved by the command line, in the window.
cmake --build "$build" --target window-shot >/dev/null
dump=$(mktemp -t velomark-demo-dump-XXXXXX)
trap 'rm -f "$dump"' EXIT
"$root/scripts/demo.sh" "$build" "$build/src/cli/velomark-cli" retrieve --lidar "VZQ Demo 4711" \
  --dump "$dump" --output /dev/null >/dev/null 2>&1
# The lidar is listed, not connected: the window needs no port to show a log.
VELOMARK_LIDARS="VZQ Demo 4711=/dev/null" xvfb-run -a -s "-screen 0 ${screen}x24" bash -c "
  '$build/tools/window-shot/window-shot' '$dump' 'VZQ Demo 4711' 2 &
  app=\$!
  sleep \${SCREENSHOT_DELAY:-4}
  import -window root '$chart_png'
  mogrify -trim +repage '$chart_png'
  kill \$app; wait \$app 2>/dev/null || true
" >/dev/null 2>&1
echo "screenshot: $chart_png"
