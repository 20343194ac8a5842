#!/bin/sh
# The manual page's EXIT STATUS and the exit statuses of app/main.cpp tell
# the same: each entry's tag line names its constant in a comment
# (.B 2 \" kExitClientMissing), and each constant has one entry, with its
# number. Fails, showing both sides, when one changes without the other.
# usage: check_exit_statuses.sh MAIN_CPP MANUAL_SOURCE
set -eu
code=$(sed -n 's/^constexpr int \(kExit[A-Za-z]*\) = \([0-9]*\);.*/\2 \1/p' \
  "$1" | sort -n)
page=$(awk '/^\.SH / { on = /^\.SH EXIT STATUS/ }
  on && /^\.BI? [0-9]/ {
    number = $2; sub(/\+$/, "", number)
    name = $0; if (!sub(/.*\\" */, "", name)) name = "(no constant named)"
    print number, name
  }' "$2" | sort -n)
if [ -z "$code" ] || [ "$code" != "$page" ]; then
  printf 'app/main.cpp:\n%s\n\nthe manual page:\n%s\n' "$code" "$page"
  exit 1
fi
