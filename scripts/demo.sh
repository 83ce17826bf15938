#!/usr/bin/env bash
# The demo: lidar-sim plays a type 5 lidar with firmware 9.3, a stored log of a few hundred
# records and live "$" records with a GPS position; the window runs in a throw-away home folder
# (its own NSS database with a demo recipient certificate) with that lidar listed.
#   scripts/demo.sh BUILD [COMMAND...]   (COMMAND defaults to the window)
# VELOMARK and LIDAR_SIM name other programs than the build's (the installed ones, say).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
home=$(mktemp -d -t velomark-demo-XXXXXX)
sim_out="$home/lidar-sim.out"
app=${VELOMARK:-$build/src/app/velomark}

"${LIDAR_SIM:-$build/tools/lidar-sim/lidar-sim}" --model "BT:RX:Brasko" --firmware 9.3 --demo-log 300 \
  --live-format 3 --live-gps --live-interval 1500 --events "$home/lidar-sim.events" >"$sim_out" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$sim_out" ] && break
  sleep 0.05
done
port=$(head -n 1 "$sim_out")
[ -n "$port" ] || { echo "demo: lidar-sim did not start" >&2; exit 1; }

"$root/scripts/demo-certificate.sh" "$home"
echo "Demo lidar \"VZQ Demo 4711\" on $port; demo files in $home (remove the folder when done)."

export HOME="$home" XDG_DATA_HOME="$home/.local/share" VELOMARK_LIDARS="VZQ Demo 4711=$port"
cd "$home"
if [ $# -gt 0 ]; then
  "$@"
else
  "$app"
fi
