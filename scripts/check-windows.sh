#!/usr/bin/env bash
# Compiles the Windows platform layer (the Windows-only source files that include no Qt header,
# so they compile without a Windows build of Qt) with the mingw-w64 cross compiler, links them with
# the version resource into the Windows tests of tests/windows and runs those under Wine in a
# throw-away prefix. The tests write to that prefix's registry and certificate store, and talk
# to a lidar played on a pseudo-terminal (tests/windows/serial_peer.py) that the prefix maps to COM5.
# With the two builds named, the Windows programs are then checked in the same prefix against the
# Linux build's (tests/windows/program_checks.py), and the installer when it was made:
#   scripts/check-windows.sh [LINUX_BUILD WINDOWS_BUILD]
# The last line adds up every group: "check-windows: N passed, M failed".
set -euo pipefail
linux_build=${1:-}
windows_build=${2:-}
cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -Isrc/core -Isrc/app)
out=$(mktemp -d)
peer=
cleanup() {
  if [ -n "$peer" ]; then
    kill "$peer" 2>/dev/null || true
  fi
  # Ends the wineserver of our own prefix only, then drops the prefix with the rest.
  if [ -d "$out/prefix" ]; then
    WINEPREFIX="$out/prefix" wineserver -k 2>/dev/null || true
  fi
  rm -rf "$out"
}
trap cleanup EXIT
mapfile -t tests < <(git ls-files -co --exclude-standard -- 'tests/windows/*.cpp' | sort -u)
if [ "${#tests[@]}" != 0 ]; then
  export WINEPREFIX="$out/prefix" WINEARCH=win64 WINEDEBUG=-all
  # No Mono or Gecko installer prompts; nothing here needs a display.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  # The prefix is made while the compiler runs.
  timeout -k 10 300 wineboot -i >"$out/wineboot.log" 2>&1 &
  boot=$!
fi
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/*_win.cpp' 'src/**/*_win.cpp' | sort -u \
  | xargs -r grep -L '^#include <Q')
if [ "${#files[@]}" = 0 ]; then
  echo "check-windows: no Windows source files yet"
  exit 0
fi
for f in "${files[@]}"; do
  echo "check-windows: $f"
  $cxx "${flags[@]}" -c "$f" -o "$out/$(basename "$f").o"
done
echo "check-windows: ${#files[@]} file(s) compiled"
if [ -f resources/velomark.rc ]; then
  (cd resources && x86_64-w64-mingw32-windres velomark.rc -O coff -o "$out/velomark-rc.o")
  echo "check-windows: resources/velomark.rc compiled"
fi

if [ "${#tests[@]}" = 0 ]; then
  exit 0
fi
# Static, so that Wine needs no MinGW runtime libraries beside the program.
$cxx "${flags[@]}" -Itests/windows -static -o "$out/velomark-windows-tests.exe" "${tests[@]}" "$out"/*.o \
  -lws2_32 -lcrypt32 -lversion
echo "check-windows: tests/windows built"

# Three certificates made by OpenSSL for the certificate-store tests, one key for all.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$out/key.pem" 2>/dev/null
for n in 1 2 3; do
  openssl req -x509 -new -key "$out/key.pem" -subj "/CN=Velomark Test $n/O=Veltrazon Technology" \
    -days 30 -outform DER -out "$out/certificate$n.der"
done
# The record signer's certificate, and the key as the blob CryptImportKey reads.
openssl req -x509 -new -key "$out/key.pem" -subj "/CN=Velomark Signer/O=Traffic Unit" -days 30 \
  -out "$out/signer.pem"
openssl x509 -in "$out/signer.pem" -outform DER -out "$out/signer.der"
openssl rsa -in "$out/key.pem" -outform MSBLOB -out "$out/key.blob" 2>/dev/null

if ! wait "$boot"; then
  cat "$out/wineboot.log"
  echo "check-windows: wineboot failed"
  exit 1
fi
# The peer writes its pseudo-terminal's path once it is ready; a Windows program cannot start it.
python3 tests/windows/serial_peer.py "$out/peer.tty" &
peer=$!
for _ in $(seq 100); do
  [ -s "$out/peer.tty" ] && break
  sleep 0.1
done
if [ ! -s "$out/peer.tty" ]; then
  echo "check-windows: the serial peer did not start"
  exit 1
fi
ln -sfn "$(cat "$out/peer.tty")" "$WINEPREFIX/dosdevices/com5"
export VELOMARK_TEST_SERIAL_PORT=COM5
echo "check-windows: running tests/windows under $(wine --version 2>/dev/null | head -n 1)"
# A crash prints Wine's backtrace and fails; the time limit is for a hang, which CI must not wait out.
status=0
(cd "$out" && timeout -k 10 300 wine ./velomark-windows-tests.exe certificate1.der certificate2.der \
  certificate3.der signer.der key.blob) | tee "$out/results.txt" || status=$?
if [ "$status" != 0 ]; then
  echo "check-windows: the Windows tests failed (exit status $status)"
fi

if [ -n "$windows_build" ]; then
  setup=$(ls "$windows_build"/Velomark-*-setup.exe 2>/dev/null | head -n 1)
  mkdir -p "$out/programs"
  program_status=0
  VELOMARK_WINDOWS_SETUP=${setup:+$(realpath "$setup")} \
    VELOMARK_WINDOWS_SCREENSHOT=${VELOMARK_WINDOWS_SCREENSHOT:-$out/screenshot-windows.png} \
    timeout -k 10 900 python3 tests/windows/program_checks.py "$windows_build" "$linux_build" "$out/programs" \
      "$out/signer.pem" "$out/key.pem" \
    | tee -a "$out/results.txt" || program_status=$?
  if [ "$program_status" != 0 ]; then
    echo "check-windows: the checks of the programs failed (exit status $program_status)"
    status=$program_status
  fi
fi
tr -d '\r' <"$out/results.txt" | sed -nE 's/.* ([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' \
  | awk '{ p += $1; f += $2 } END { printf "check-windows: %d passed, %d failed\n", p, f }'
exit "$status"
