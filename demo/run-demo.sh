#!/bin/sh
# Runs one demo request: the sample client becomes "mart.dll" in a fresh
# public directory, tolmex serves the request, and what a host would then see
# is printed: the section "return" of the result INI file, the day's log
# record and the exit status.
# Usage: run-demo.sh TOLMEX SAMPLE_CLIENT SCRATCH_DIR
set -u
tolmex=$1 client=$2 scratch=$3

rm -rf "$scratch"
mkdir -p "$scratch/public"
public=$(cd "$scratch/public" && pwd)
cp "$client" "$public/mart.dll"

request="pay,$public/,ORDER-20261207-0001,12.50"
echo "request: tolmex '$request'"
"$tolmex" "$request"
status=$?

echo
echo "--- section [return] of $public/tolmex.ini"
sed -n '/^\[return\]/,/^\[/p' "$public/tolmex.ini" | tr -d '\r'
for log in "$public"/logpay/pay_log*.txt; do
  echo
  printf -- "--- %s (CR shown as \\\\r)\n" "$log"
  sed 's/\r/\\r/g' "$log"
done
echo
echo "--- public directory after the run"
ls -A "$public"
echo
echo "exit status: $status"
exit "$status"
