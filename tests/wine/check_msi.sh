#!/bin/sh
# Reads the installer's tables back: the older version is removed inside
# the new one's transaction (after InstallInitialize, before any file is
# touched), the install location is set before the product is registered,
# the product names its architecture and replaces the other architecture's,
# and tolmex.exe carries its file version.
# Usage: check_msi.sh MSI BITS VERSION OTHER_UPGRADE_CODE
set -u
msi=$1 bits=$2 version=$3 other=$4
status=0
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
seq_of() { table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a {print $3}'; }
fail() { echo "$1"; status=1; }
rep=$(seq_of RemoveExistingProducts) init=$(seq_of InstallInitialize)
[ -n "$rep" ] && [ "$rep" -gt "$init" ] &&
  [ "$rep" -lt "$(seq_of RemoveFiles)" ] ||
  fail "RemoveExistingProducts at $rep, not after InstallInitialize ($init)"
arp=$(seq_of SetARPINSTALLLOCATION)
[ -n "$arp" ] && [ "$arp" -gt "$(seq_of CostFinalize)" ] &&
  [ "$arp" -lt "$(seq_of RegisterProduct)" ] ||
  fail "ARPINSTALLLOCATION set at ${arp:-no step}"
table Property | grep -qx "ProductName	tolmex ($bits-bit)" ||
  fail "the product is not named tolmex ($bits-bit)"
table File | grep -q "^tolmex.exe	.*	$version.0	" ||
  fail "tolmex.exe has no file version $version.0"
table Upgrade | grep -q "^{$other}	" ||
  fail "the other architecture's tolmex ({$other}) is not replaced"
exit $status
