#!/bin/sh
# Checks that the .zip's manual is the Windows build's (no signals, no
# Linux paths) with no word split at a line's end (a search would miss it),
# and that it and the README open with a UTF-8 byte-order mark and end
# every line with CR LF, as Notepad and `type` need.
# Usage: check_texts.sh TOLMEX_TXT README_TXT
set -u
status=0
grep -q 'tolmex.exe pay,C:' "$1" || { echo "$1: no Windows example"; status=1; }
if grep -nE 'SIG[A-Z]|128\+|zenity|journalctl|/srv|/logpay' "$1"; then
  echo "$1: Linux text above"; status=1
fi
if grep -n "$(printf '[\342\200\220-]\r$')" "$1"; then
  echo "$1: words split at line ends above"; status=1
fi
for f; do
  head -c3 "$f" | od -An -tx1 | grep -q 'ef bb bf' ||
    { echo "$f: no byte-order mark"; status=1; }
  if [ -n "$(sed -n '/\r$/!p' "$f")" ]; then
    echo "$f: a line without CR LF"; status=1
  fi
done
exit $status
