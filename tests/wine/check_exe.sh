#!/bin/sh
# Checks that tolmex.exe needs no DLL beyond the system's and is a
# graphical program whose manifest asks for no elevation and states the
# product's version.
# Usage: check_exe.sh TOLMEX_EXE OBJDUMP VERSION
set -u
exe=$1 objdump=$2 version=$3
headers=$("$objdump" -p "$exe") || exit 1
status=0
foreign=$(printf '%s\n' "$headers" | grep 'DLL Name' |
          grep -viE 'KERNEL32|USER32|ADVAPI32|msvcrt')
if [ -n "$foreign" ]; then
  echo "needs a DLL beyond the system's: $foreign"; status=1
fi
printf '%s\n' "$headers" | grep -q '(Windows GUI)' ||
  { echo "not a graphical program"; status=1; }
grep -q asInvoker "$exe" || { echo "manifest lacks asInvoker"; status=1; }
grep -q "version=\"$version.0\"" "$exe" ||
  { echo "manifest version is not $version.0"; status=1; }
exit $status
