#!/usr/bin/env bash
# Runs every benchmark that the build made; each prints its own table.
set -euo pipefail
build=${1:-build}
found=0
for b in "$build"/bench/bench_*; do
  # Only programs: the build also leaves folders (bench_*_autogen) here.
  [ -f "$b" ] && [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b"
done
[ "$found" = 1 ] || echo "No benchmarks yet."
