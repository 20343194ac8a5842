#!/bin/sh
# Signs copies of FILEs with packaging/windows/sign.sh and a certificate
# made here, and fails unless osslsigncode verifies each against it. Exit
# status 77 (a skip) without osslsigncode or openssl.
# usage: check_signing.sh SIGN_SH FILE...
set -eu
sign=$1
shift
command -v osslsigncode >/dev/null && command -v openssl >/dev/null ||
  { echo "needs osslsigncode and openssl (.ci/run installs them)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=T-0001 signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" \
  -out "$scratch/cert.pem" 2>/dev/null
for file; do
  cp "$file" "$scratch/"
  sh "$sign" "$scratch/cert.pem" "$scratch/key.pem" "$scratch/${file##*/}"
  osslsigncode verify -CAfile "$scratch/cert.pem" "$scratch/${file##*/}" ||
    { echo "$file: signature not verified"; exit 1; }
done
