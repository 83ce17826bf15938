#!/usr/bin/env bash
# The Debian package's round trip: checks it (lintian, desktop-file-validate, appstreamcli, no
# path into the build folder), installs it with dpkg (apt resolves what is missing), runs the
# installed programs, takes a screenshot of the installed window under Xvfb, and removes the
# package again, checking that none of its files is left behind. Needs root (or sudo).
#   scripts/package-check.sh BUILD     (after `make package`)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=$([ "$(id -u)" = 0 ] || echo sudo)
start=$(date +%s)
fail() { echo "package-check: $*" >&2; exit 1; }

shopt -s nullglob
debs=("$build"/package/velomark_*.deb)
[ ${#debs[@]} = 1 ] || fail "expected one package in $build/package/, found ${#debs[@]}"
deb=${debs[0]}
echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Maintainer Depends Recommends Suggests
dpkg-deb --contents "$deb"

echo "== lintian"
# Errors fail the check; warnings are printed for the reader.
lintian --fail-on error --display-info "$deb" || fail "lintian found errors"

work=$(mktemp -d)
installed=
cleanup() {
  [ -z "$installed" ] || $sudo dpkg -r velomark >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb --extract "$deb" "$work/root"

echo "== desktop-file-validate, appstreamcli"
out=$(desktop-file-validate "$work"/root/usr/share/applications/*.desktop 2>&1) || fail "desktop entry: $out"
[ -z "$out" ] || fail "desktop entry: $out"
appstreamcli validate --no-net --pedantic --explain "$work"/root/usr/share/metainfo/*.metainfo.xml \
  || fail "metainfo does not validate"

echo "== nothing refers to the build folder"
for program in "$work"/root/usr/bin/* "$work"/root/usr/libexec/velomark/*; do
  if readelf -d "$program" | grep -E '\((RPATH|RUNPATH)\)'; then
    fail "$program has a run-time search path"
  fi
done
if grep -rlF "$build" "$work/root"; then
  fail "files above name the build folder $build"
fi

echo "== install"
if dpkg-query -W -f='${Status}' velomark 2>/dev/null | grep -q 'ok installed'; then
  fail "velomark is installed already; remove it first (dpkg -r velomark)"
fi
installed=yes
$sudo dpkg -i "$deb" || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -f -y -qq --no-install-recommends
dpkg-query -W -f='${Status}\n' velomark | grep -qx 'install ok installed' || fail "not installed"

echo "== the installed programs"
version=$(/usr/bin/velomark-cli --version)
echo "velomark-cli --version: $version"
[ "$version" = "$("$build/src/cli/velomark-cli" --version)" ] || fail "installed velomark-cli has another version"
# --version must answer without a display: a window would abort on this platform.
app_version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb /usr/bin/velomark --version)
echo "velomark --version: $app_version"
[ "$app_version" = "$version" ] || fail "velomark and velomark-cli print different versions"
dump=$root/fuzz/corpus/decoder/type03.txt
/usr/bin/velomark-cli decode --lidar-id "VZQ 12345" "$dump" >"$work/decoded.csv"
"$build/src/cli/velomark-cli" decode --lidar-id "VZQ 12345" "$dump" | cmp - "$work/decoded.csv" \
  || fail "installed decode differs from the build's"
[ "$(wc -l <"$work/decoded.csv")" -gt 1 ] || fail "decode printed no record"
head -n 3 "$work/decoded.csv"
man -w velomark velomark-cli >/dev/null || fail "manual pages not found"
MANWIDTH=80 man velomark-cli 2>/dev/null | grep -q '^ *decode' || fail "velomark-cli(1) lacks decode"

echo "== the installed window under Xvfb"
shot=$build/package/installed-window.png
VELOMARK=/usr/bin/velomark LIDAR_SIM=/usr/libexec/velomark/lidar-sim \
  "$root/scripts/screenshot.sh" "$build" "$shot"
colours=$(identify -format '%k' "$shot")
[ "$colours" -gt 50 ] || fail "the screenshot shows no window ($colours colours)"

echo "== remove"
files=$(dpkg-query -L velomark | while read -r path; do [ -d "$path" ] || echo "$path"; done)
$sudo dpkg -r velomark
installed=
status=$(dpkg-query -W -f='${Status}' velomark 2>/dev/null || true)
case $status in
  "" | *not-installed | *config-files) ;;
  *) fail "after dpkg -r the status is '$status'" ;;
esac
for path in $files; do
  [ ! -e "$path" ] || fail "$path is left behind"
done
echo "package-check: passed in $(( $(date +%s) - start )) s"
