#!/bin/sh
# Fails when the program lacks a protection that a distribution's release
# build gives it. An ELF binary: hardening-check must report no "no"; the
# one allowed is control-flow protection where the C library's own start
# files lack the IBT and SHSTK properties (then no program built here can
# have them). A PE (.exe): ASLR (a 64-bit one with high-entropy
# addresses), NX, a stack protector linked in, and headers that name
# Windows 7 SP1 (6.1) as the oldest system, as OS and subsystem version.
# Exit status 77 (a skip) without hardening-check.
# usage: check_hardening.sh PROGRAM [OBJDUMP]
set -eu
program=$1 objdump=${2:-objdump}
case "$program" in
*.exe)
  headers=$("$objdump" -p "$program")
  flags=$(echo "$headers" | sed -n '/^DllCharacteristics/,/^$/p')
  wanted="DYNAMIC_BASE NX_COMPAT"
  echo "$headers" | grep -q 'pei-x86-64' && wanted="$wanted HIGH_ENTROPY_VA"
  for flag in $wanted; do
    echo "$flags" | grep -q "$flag" || { echo "$program: no $flag"; exit 1; }
  done
  versions=$(echo "$headers" |
    sed -n 's/^M\(ajor\|inor\)\(OSystem\|Subsystem\)Version\t*//p' | tr '\n' ' ')
  [ "$versions" = "6 1 6 1 " ] || {
    echo "$program: OS and subsystem versions $versions, not 6 1 6 1"; exit 1; }
  "$objdump" -t "$program" | grep -q '__stack_chk_fail' || {
    echo "$program: no stack protector"; exit 1; }
  ;;
*)
  command -v hardening-check >/dev/null 2>&1 || {
    echo "hardening-check is not installed (.ci/run installs devscripts)"
    exit 77; }
  report=$(hardening-check "$program" || true)
  missing=$(echo "$report" | grep ': no' || true)
  crt=$(gcc -print-file-name=Scrt1.o)
  if ! readelf -n "$crt" | grep -q 'x86 feature: IBT, SHSTK'; then
    missing=$(echo "$missing" | grep -v 'Control flow integrity' || true)
  fi
  [ -z "$missing" ] || { echo "$report"; exit 1; }
  ;;
esac
