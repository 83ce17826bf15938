#!/usr/bin/env bash
# Compiles every Windows-only source file with the mingw-w64 cross compiler. These files
# include no Qt header, so they compile without a Windows build of Qt.
set -euo pipefail
cxx=x86_64-w64-mingw32-g++-posix
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/*_win.cpp' 'src/**/*_win.cpp' | sort -u)
if [ "${#files[@]}" = 0 ]; then
  echo "check-windows: no Windows source files yet"
  exit 0
fi
for f in "${files[@]}"; do
  echo "check-windows: $f"
  $cxx -std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -Isrc/core -Isrc/app -c "$f" -o "$out/$(basename "$f").o"
done
echo "check-windows: ${#files[@]} file(s) compiled"
if [ -f resources/velomark.rc ]; then
  (cd resources && x86_64-w64-mingw32-windres velomark.rc -O coff -o "$out/velomark-rc.o")
  echo "check-windows: resources/velomark.rc compiled"
fi
