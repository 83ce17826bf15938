#!/usr/bin/env bash
# The window at start on small and scaled screens, under a window manager that frames it: the
# whole frame, its title bar included, lies on the screen.
#   window-on-screen.sh VELOMARK   (checks 1366x768 at 125 % and 1920x1080 at 150 %)
set -euo pipefail
app=$1
for tool in xvfb-run openbox xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (make deps)"; exit 0; }
done
status=0
for case in 1366x768:1.25 1920x1080:1.5; do
  screen=${case%%:*}
  scale=${case##*:}
  out=$(QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale VELOMARK_LIDARS="VZQ Frame=/dev/null" \
    xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
      openbox >/dev/null 2>&1 &
      sleep 1
      "$0" >/dev/null 2>&1 &
      app=$!
      # The window manager frames the window, then the window moves itself into place.
      for _ in $(seq 1 40); do
        xwininfo -root -tree 2>/dev/null | grep -q "\"Veltrazon" && break
        sleep 0.25
      done
      sleep 2
      id=$(xwininfo -root -tree | grep "\"Veltrazon" | head -n 1 | awk "{print \$1}")
      xwininfo -id "$id"
      kill $app; wait $app 2>/dev/null || true' "$app")
  absolute=$(sed -n 's/.*Absolute upper-left Y: *\(-\?[0-9]*\).*/\1/p' <<<"$out")
  relative=$(sed -n 's/.*Relative upper-left Y: *\(-\?[0-9]*\).*/\1/p' <<<"$out")
  if [ -z "$absolute" ] || [ -z "$relative" ]; then
    echo "FAIL $screen at $scale: the window was not found"
    status=1
    continue
  fi
  # The client sits below the title bar by the relative offset inside its frame.
  top=$((absolute - relative))
  if [ "$top" -lt 0 ]; then
    echo "FAIL $screen at $scale: the frame's top is at $top"
    status=1
  else
    echo "PASS $screen at $scale: the frame's top is at $top"
  fi
done
exit $status
