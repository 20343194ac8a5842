#!/bin/sh
# Signs copies of tolmex.exe and the installer with packaging/windows/sign.sh
# and a certificate made for the test, and fails unless osslsigncode
# verifies each against it. Exit status
# 77 (a skip) without osslsigncode or openssl.
# usage: check_signing.sh SIGN_SH FILE...
set -eu
sign=$1
shift
for tool in osslsigncode openssl; do
  command -v $tool >/dev/null 2>&1 || {
    echo "$tool is not installed (.ci/run installs it)"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=T-0001 signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" \
  -out "$scratch/cert.pem" 2>/dev/null
for file; do
  copy="$scratch/$(basename "$file")"
  cp "$file" "$copy"
  sh "$sign" "$scratch/cert.pem" "$scratch/key.pem" "$copy"
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$copy" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; echo "$copy: signature not verified"; exit 1; }
done
echo "signed and verified: $*"
