#!/usr/bin/env bash
# Builds the Windows cross toolchain (static Qt 5 with Svg and Charts, static OpenSSL) from
# Debian's source packages with the mingw-w64 compiler, into a cache folder named after a hash
# of this script, and reuses that folder for as long as this script is unchanged.
#   scripts/windows-toolchain.sh               builds if needed; the last line is the folder
#   scripts/windows-toolchain.sh --print-dir   only prints the folder it would use
#   scripts/windows-toolchain.sh --check       exit 0 if that folder is complete, 1 if not
# A build that is interrupted resumes at the first step that had not finished.
set -euo pipefail

# The exact source packages, pinned so that the hash of this file names what is inside the
# folder; when the archive drops one of them, the fetch says which version it has now.
sources=(
  qtbase-opensource-src=5.15.8+dfsg-11+deb12u3
  qtsvg-opensource-src=5.15.8-3
  qtcharts-opensource-src=5.15.8-2
  openssl=3.0.20-1~deb12u2
)
mirror=${VELOMARK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
packages=(build-essential perl dpkg-dev xz-utils g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64)
jobs=${JOBS:-$(nproc)}
host=x86_64-w64-mingw32

self=$(readlink -f "${BASH_SOURCE[0]}")
hash=$(sha256sum <"$self" | cut -c1-12)
base=${XDG_CACHE_HOME:-$HOME/.cache}/velomark/windows-toolchain
dir=$base/$hash
work=$base/work-$hash
log=$dir/build.log
times=$dir/build-times.txt

case ${1:-} in
  --print-dir) echo "$dir"; exit 0 ;;
  --check) [ -f "$dir/complete" ]; exit ;;
  '') ;;
  *) echo "usage: $0 [--print-dir | --check]" >&2; exit 2 ;;
esac

if [ -f "$dir/complete" ]; then
  echo "$dir"
  exit 0
fi

say() { echo "windows-toolchain: $*" >&2; }

mkdir -p "$base"
# Two runs at once would build into the same folders, so the second one waits for the first.
exec 9>"$base/$hash.lock"
if ! flock -n 9; then
  say "another run is building $dir, waiting for it"
  flock 9
fi
if [ -f "$dir/complete" ]; then
  echo "$dir"
  exit 0
fi

sudo=$([ "$(id -u)" = 0 ] || echo sudo)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" != 0 ]; then
  say "installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$dir" "$work"
say "building into $dir (log: $log)"
echo "=== $(date -u '+%F %T') start, $jobs jobs" >>"$log"

# The -posix compilers (C++11 threads) must be the ones used even where the alternatives
# point at the -win32 ones, and qmake and OpenSSL only know the unsuffixed names.
mkdir -p "$work/bin"
for tool in gcc g++; do
  printf '#!/bin/sh\nexec /usr/bin/%s-%s-posix "$@"\n' "$host" "$tool" >"$work/bin/$host-$tool"
  chmod +x "$work/bin/$host-$tool"
done
export PATH=$work/bin:$PATH

current=
on_exit() {
  local rc=$?
  # The steps' subshells run this trap too; only the script itself reports.
  if [ "$rc" != 0 ] && [ -n "$current" ] && [ "$BASHPID" = "$$" ]; then
    say "step $current failed (exit $rc); the end of $log:"
    tail -n 40 "$log" >&2
  fi
}
trap on_exit EXIT

# step NAME: runs the function build_NAME with its output in the log, unless it finished in an
# earlier run, and records how long it took.
step() {
  local name=$1 start=$SECONDS
  [ -f "$work/$name.done" ] && { say "$name: done earlier"; return; }
  current=$name
  say "$name: started $(date '+%T')"
  echo "=== $(date -u '+%F %T') $name" >>"$log"
  # A subshell, so that the steps' cd does not carry over.
  ("build_$name") >>"$log" 2>&1
  echo "$name $((SECONDS - start))" >>"$times"
  touch "$work/$name.done"
  say "$name: done in $((SECONDS - start)) s"
  current=
}

# unpack PACKAGE: a fresh tree of the fetched source package in $work/PACKAGE, so that a step
# that is redone never builds on half-built leftovers.
unpack() {
  rm -rf "${work:?}/$1"
  dpkg-source -x "$work"/src/"$1"_*.dsc "$work/$1"
}

build_fetch() {
  # A deb-src list and apt state of our own, so the system's apt configuration stays as it is;
  # the pins come from point releases, because the security archive's source files are not
  # always reachable from build machines.
  local apt=$work/apt
  rm -rf "$apt" "$work/src"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$work/src"
  cat >"$apt/sources.sources" <<EOF
Types: deb-src
URIs: $mirror
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  local opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update
  local s
  for s in "${sources[@]}"; do
    if ! (cd "$work/src" && apt-get "${opts[@]}" source --download-only "$s"); then
      echo "cannot fetch $s; the archive has:"
      apt-cache "${opts[@]}" showsrc "${s%%=*}" | grep '^Version:'
      return 1
    fi
  done
  (cd "$work/src" && sha256sum -- *) >"$dir/sources.txt"
}

build_openssl() {
  unpack openssl
  cd "$work/openssl"
  ./Configure mingw64 --cross-compile-prefix=$host- no-shared no-tests no-engine no-module \
    --prefix="$dir/openssl" --libdir=lib
  # OpenSSL reads its configuration and providers from the folders built in, which on Windows
  # must be ones that only an administrator can write, not this cache path that any user could
  # create there; Configure takes "C:/..." for a relative path, so make gets them instead.
  local dirs=(OPENSSLDIR="C:/Program Files/Common Files/SSL"
    ENGINESDIR="C:/Program Files/OpenSSL/lib/engines-3"
    MODULESDIR="C:/Program Files/OpenSSL/lib/ossl-modules")
  make -j"$jobs" build_libs "${dirs[@]}"
  make install_dev "${dirs[@]}"
}

build_qtbase() {
  unpack qtbase-opensource-src
  cd "$work/qtbase-opensource-src"
  # No OpenGL, D-Bus, network, SQL or XML module: the program draws with the raster engine
  # and does its own I/O; the Debian tarball lacks the tablet (wintab) and SQLite sources.
  ./configure -xplatform win32-g++ -device-option CROSS_COMPILE=$host- \
    -static -static-runtime -release -opensource -confirm-license \
    -no-opengl -no-dbus -no-icu -no-openssl -qt-zlib -qt-libpng -qt-pcre -qt-freetype \
    -qt-harfbuzz -no-feature-network -no-feature-sql -no-feature-xml -no-feature-concurrent \
    -no-feature-tabletevent -nomake examples -nomake tests -silent -prefix "$dir"
  make -j"$jobs"
  make install
}

# qtmodule PACKAGE: a Qt module built with the qmake that the qtbase step installed.
qtmodule() {
  unpack "$1"
  cd "$work/$1"
  "$dir/bin/qmake"
  make -j"$jobs"
  make install
}
build_qtsvg() { qtmodule qtsvg-opensource-src; }
build_qtcharts() { qtmodule qtcharts-opensource-src; }

build_verify() {
  # The program is built by CMake, so the static package configs must be there.
  local m
  for m in Core Gui Widgets Svg Charts; do
    ls "$dir/lib/cmake/Qt5$m/Qt5${m}Config.cmake" "$dir/lib/libQt5$m.a"
  done
  ls "$dir/openssl/lib/libssl.a"
  grep -q "C:/Program Files/Common Files/SSL" "$dir/openssl/lib/libcrypto.a"
}

step fetch
step openssl
step qtbase
step qtsvg
step qtcharts
step verify

echo "total $(awk '$1 != "total" { s += $2 } END { print s }' "$times")" >>"$times"
# The stamp comes last: a folder without it is never taken for a finished toolchain.
date -u '+%F %T' >"$dir/complete"
rm -rf "$work"
say "complete"
echo "$dir"
