#!/bin/sh
# Signs Windows files (tolmex.exe, tolmex-x64.msi, tolmex-x86.msi) in place
# with the integrator's code-signing certificate: an Authenticode signature
# by osslsigncode, SHA-256. Sign tolmex.exe before the installer and the
# .zip are made from it (doc/release.md has the order).
#
# usage: sign.sh CERT KEY FILE...
#   CERT  the certificate, with the chain up to its authority (PEM or DER)
#   KEY   its private key (PEM or DER); a passphrase, if it has one, is read
#         from the file named by TOLMEX_SIGN_PASSWORD_FILE
#   TOLMEX_TIMESTAMP_URL  a time-stamping authority (RFC 3161): its stamp
#         keeps the signature valid after the certificate expires
#
# Fails, leaving the file as it was, when a file cannot be signed (no
# osslsigncode, a wrong key or passphrase).
set -eu
[ $# -ge 3 ] || { echo "usage: sign.sh CERT KEY FILE..." >&2; exit 2; }
cert=$1 key=$2
shift 2
for file; do
  # shellcheck disable=SC2086
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n tolmex \
    ${TOLMEX_SIGN_PASSWORD_FILE:+-readpass "$TOLMEX_SIGN_PASSWORD_FILE"} \
    ${TOLMEX_TIMESTAMP_URL:+-ts "$TOLMEX_TIMESTAMP_URL"} \
    -in "$file" -out "$file.signed" >/dev/null || {
    rm -f "$file.signed"
    echo "sign.sh: cannot sign $file" >&2
    exit 1
  }
  mv "$file.signed" "$file"
done
