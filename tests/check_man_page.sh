#!/bin/sh
# Renders the manual page as man would and fails on any warning.
# usage: check_man_page.sh PAGE
set -eu
out=$(groff -k -man -Tutf8 -ww -z "$1" 2>&1)
if [ -n "$out" ]; then
  echo "$out"
  exit 1
fi
groff -k -man -Tutf8 "$1" | grep -q "tolmex  *-  *payment  *bridge" || {
  echo "the page does not render its NAME line"; exit 1; }
