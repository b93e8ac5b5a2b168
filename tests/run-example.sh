#!/bin/sh
# Runs an example script with cscript and requires both its final marker and an exit code of 0:
# a script host may exit 0 even when a script fails before its end.
# Usage: run-example.sh RUNNER... -- SCRIPT [ARGS...]   (RUNNER runs a Windows program)
set -u
runner=""
while [ "$1" != "--" ]; do runner="$runner $1"; shift; done
shift
output=$($runner cscript //nologo "$@" 2>&1)
status=$?
printf '%s\n' "$output"
printf '%s\n' "$output" | grep -q '^TELVARIO-EXAMPLE-DONE failures=0' || {
  echo "run-example: the script did not reach its end without failures" >&2
  exit 1
}
[ "$status" -eq 0 ] || { echo "run-example: cscript exited with $status" >&2; exit 1; }
