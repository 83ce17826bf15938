#!/usr/bin/env bash
# Builds every fuzz/fuzz_*.cpp with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for FUZZ_SECONDS (default 60) over its seed corpus
# fuzz/corpus/NAME (NAME: the file name without "fuzz_"). With FUZZ_SHARE=1 the FUZZ_SECONDS
# are the whole run's, shared among the targets (each gets at least 10 s), so the run does not
# grow with the number of targets. FUZZ_TARGETS="NAME ..." picks some targets only.
# A target lists the core sources it needs on a line "// fuzz-sources: ..." and any further
# libraries on a line "// fuzz-libs: ...". Exits non-zero when a target finds a fault; the
# input that caused it is kept in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
out=${FUZZ_BUILD:-build-fuzz}
cxx=${FUZZ_CXX:-clang++}

shopt -s nullglob
if [ -n "${FUZZ_TARGETS:-}" ]; then
  targets=()
  for name in $FUZZ_TARGETS; do
    [ -f "fuzz/fuzz_$name.cpp" ] || { echo "fuzz: no target fuzz/fuzz_$name.cpp" >&2; exit 2; }
    targets+=("fuzz/fuzz_$name.cpp")
  done
else
  targets=(fuzz/fuzz_*.cpp)
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets"
  exit 0
fi

if [ "${FUZZ_SHARE:-0}" = 1 ]; then
  seconds=$(( seconds / ${#targets[@]} ))
  [ "$seconds" -ge 10 ] || seconds=10
fi

read -r -a qt_cflags <<<"$(pkg-config --cflags Qt5Core)"
read -r -a qt_libs <<<"$(pkg-config --libs Qt5Core)"
mkdir -p "$out/artifacts"

status=0
for source in "${targets[@]}"; do
  name=$(basename "$source" .cpp)
  read -r -a sources <<<"$(sed -n 's|^// fuzz-sources:||p' "$source")"
  read -r -a libs <<<"$(sed -n 's|^// fuzz-libs:||p' "$source")"
  echo "== $name: building"
  # Qt is built position-independent; code that uses it must be too (-fPIC).
  "$cxx" -std=c++17 -g -O1 -fPIC -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Isrc/core "${qt_cflags[@]}" "$source" "${sources[@]}" "${qt_libs[@]}" ${libs[@]+"${libs[@]}"} -o "$out/$name"

  seeds=fuzz/corpus/${name#fuzz_}
  corpus=$out/corpus/${name#fuzz_}
  mkdir -p "$corpus" "$seeds"
  echo "== $name: running for ${seconds}s"
  if ! ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$out/$name" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$name-" "$corpus" "$seeds"; then
    echo "== $name: FOUND A FAULT (see $out/artifacts/)" >&2
    status=1
  else
    echo "== $name: no finding in ${seconds}s"
  fi
done
exit $status
