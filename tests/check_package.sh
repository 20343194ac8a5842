#!/bin/sh
# Installs with DESTDIR under another prefix, builds the Debian package,
# unpacks it into a scratch root and runs the installed program on a demo
# request.
# usage: check_package.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

DESTDIR="$scratch/destdir" cmake --install "$build" --prefix /opt/tolmex >/dev/null
[ -x "$scratch/destdir/opt/tolmex/bin/tolmex" ] &&
  [ -f "$scratch/destdir/opt/tolmex/share/man/man1/tolmex.1.gz" ] &&
  [ -f "$scratch/destdir/opt/tolmex/share/doc/tolmex/copyright" ] || {
  echo "cmake --install did not place bin/tolmex, the manual page and the"
  echo "copyright file"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
arch=$(dpkg --print-architecture)
deb="$scratch/out/tolmex_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "no package $deb"; ls "$scratch/out"; exit 1; }
dpkg-deb --field "$deb" Depends | grep -q libc6 || {
  echo "the package does not depend on libc6"; exit 1; }
[ -f "$scratch/out/tolmex-dbgsym_${version}_${arch}.ddeb" ] || {
  echo "no package of debugging symbols"; exit 1; }
# Debian's own checks: no error and no warning.
if command -v lintian >/dev/null 2>&1; then
  if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
    echo "$report"
    echo "lintian reports errors or warnings"
    exit 1
  fi
else
  echo "lintian is not installed (.ci/run installs it): not run"
fi

dpkg -x "$deb" "$scratch/root"
[ -x "$scratch/root/usr/bin/tolmex" ] || { echo "no usr/bin/tolmex"; exit 1; }
[ -f "$scratch/root/usr/share/man/man1/tolmex.1.gz" ] || {
  echo "no manual page"; exit 1; }

pub="$scratch/public/"
mkdir -p "$pub"
printf '#!/bin/sh\nprintf "%%s" "$1" > "$(echo "$1" | cut -d, -f2)ran"\n' > "${pub}mart.dll"
chmod 755 "${pub}mart.dll"
DISPLAY= "$scratch/root/usr/bin/tolmex" "pay,$pub,ORDER-1,12.50"
[ "$(cat "${pub}ran")" = "pay,$pub,ORDER-1,12.50" ] || {
  echo "the installed program did not run the client"; exit 1; }
grep -q '^total_amount=' "${pub}tolmex.ini"
