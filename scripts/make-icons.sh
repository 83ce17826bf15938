#!/usr/bin/env bash
# Draws the window's icons with ImageMagick and writes them as ICO files (16, 32 and 48
# pixels each) to resources/icons/, and the program's icon as PNG files (16 to 256 pixels) to
# resources/hicolor/ for installation. The results are committed; run this after a change.
set -euo pipefail
cd "$(dirname "$0")/.."
out=resources/icons
mkdir -p "$out"

# One palette for every pictogram.
blue='#2f6fb3'; green='#3b9a4b'; red='#c9383c'; yellow='#e9b533'
grey='#6b7280'; light='#e8ecf1'; ink='#1f2933'; white='#ffffff'

# draw NAME DRAW-ARGS...: a 96 x 96 transparent canvas, the primitives, then the sizes.
draw() {
  local name=$1
  shift
  convert -size 96x96 xc:none -strokewidth 4 "$@" \
    -define icon:auto-resize=48,32,16 "$out/$name"
}

# The program: a speed gauge with its needle.
program=(
  -fill "$blue" -stroke "$ink" -draw "roundrectangle 4,4 91,91 16,16"
  -fill none -stroke "$white" -strokewidth 8 -draw "arc 18,22 78,82 180,360"
  -stroke "$yellow" -strokewidth 7 -draw "line 48,52 72,30"
  -fill "$white" -stroke "$ink" -strokewidth 3 -draw "circle 48,52 48,60"
  -fill "$yellow" -stroke none -draw "rectangle 22,68 74,76"
)
draw vantrix.ico "${program[@]}"

# The same gauge for the desktop's icon theme: drawn eight times larger (the affine transform
# scales coordinates and strokes alike), then reduced to each size of resources/hicolor/.
for size in 16 22 24 32 48 64 128 256; do
  dir=resources/hicolor/${size}x${size}/apps
  mkdir -p "$dir"
  convert -size 768x768 xc:none -affine 8,0,0,8,0,0 -strokewidth 4 "${program[@]}" \
    -resize "${size}x${size}" -depth 8 -strip -define png:exclude-chunks=date,time "$dir/velomark.png"
done

# Delete the lidar's log: a waste bin.
draw Trash.ico \
  -fill "$grey" -stroke "$ink" -draw "polygon 22,26 74,26 68,90 28,90" \
  -fill "$light" -draw "roundrectangle 14,16 82,28 4,4" \
  -fill "$grey" -draw "rectangle 38,6 58,16" \
  -stroke "$light" -draw "line 38,36 40,80" -draw "line 48,36 48,80" -draw "line 58,36 56,80"

# Save the retrieved log: a diskette.
draw SaveDump.ico \
  -fill "$blue" -stroke "$ink" -draw "roundrectangle 8,8 88,88 8,8" \
  -fill "$light" -draw "rectangle 24,10 70,36" \
  -fill "$ink" -stroke none -draw "rectangle 56,14 64,32" \
  -fill "$white" -stroke "$ink" -draw "rectangle 20,52 76,86"

# Retrieve the log: a sheet of a spreadsheet.
draw "Document spreadsheet.ico" \
  -fill "$white" -stroke "$ink" -draw "polygon 14,4 64,4 82,22 82,92 14,92" \
  -fill "$light" -draw "polygon 64,4 64,22 82,22" \
  -fill "$green" -stroke none -draw "rectangle 22,32 74,42" \
  -fill none -stroke "$green" -strokewidth 3 \
  -draw "rectangle 22,42 74,82" -draw "line 22,56 74,56" -draw "line 22,69 74,69" \
  -draw "line 40,32 40,82" -draw "line 57,32 57,82"

# Choose the data file: an open folder.
draw select.ico \
  -fill "$yellow" -stroke "$ink" -draw "polygon 6,20 34,20 42,28 84,28 84,82 6,82" \
  -fill "$light" -draw "polygon 20,40 92,40 80,82 6,82" \
  -fill none -stroke "$blue" -strokewidth 6 -draw "line 36,60 50,72" -draw "line 50,72 72,48"

# Start and stop the live data: a play button.
draw Restart.ico \
  -fill "$green" -stroke "$ink" -draw "circle 48,48 48,6" \
  -fill "$white" -stroke none -draw "polygon 38,28 70,48 38,68"

# Look for the lidars again: a circular arrow.
draw Refresh.ico \
  -fill none -stroke "$blue" -strokewidth 12 -draw "arc 16,16 80,80 -60,230" \
  -fill "$blue" -stroke none -draw "polygon 56,4 86,24 52,36"

# Clear the display: an eraser wiping a line.
draw Clean.ico \
  -fill "$red" -stroke "$ink" -draw "polygon 40,14 86,48 58,84 12,50" \
  -fill "$light" -draw "polygon 12,50 35,67 23,83 4,69" \
  -fill none -stroke "$grey" -strokewidth 4 -draw "line 30,90 92,90"

# Load a data file into the list: a table with an arrow into it.
draw LoadTable.ico \
  -fill "$white" -stroke "$ink" -draw "rectangle 6,30 70,90" \
  -fill "$blue" -stroke none -draw "rectangle 8,32 68,44" \
  -fill none -stroke "$grey" -strokewidth 3 \
  -draw "line 8,59 68,59" -draw "line 8,74 68,74" -draw "line 28,44 28,88" -draw "line 48,44 48,88" \
  -fill "$green" -stroke "$ink" -strokewidth 3 -draw "polygon 70,4 86,4 86,30 94,30 78,48 62,30 70,30"

# Leave the program: a red disc with a cross.
draw Close.ico \
  -fill "$red" -stroke "$ink" -draw "circle 48,48 48,6" \
  -fill none -stroke "$white" -strokewidth 11 -draw "line 32,32 64,64" -draw "line 64,32 32,64"

ls -l "$out"
