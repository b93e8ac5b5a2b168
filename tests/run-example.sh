#!/bin/sh
# Registers the component with regsvr32, runs an example script with cscript, and unregisters
# the component with regsvr32 /u, all as one step, so that no other test's registration comes
# between. Requires regsvr32's exit codes of 0, the script's final marker and cscript's exit
# code of 0: a script host may exit 0 even when a script fails before its end.
# Usage: run-example.sh RUNNER... -- DLL SCRIPT [ARGS...]   (RUNNER runs a Windows program)
set -u
runner=""
while [ "$1" != "--" ]; do runner="$runner $1"; shift; done
shift
dll=$1
shift
$runner regsvr32 /s "$dll" || { echo "run-example: regsvr32 failed with $?" >&2; exit 1; }
output=$($runner cscript //nologo "$@" 2>&1)
status=$?
printf '%s\n' "$output"
$runner regsvr32 /s /u "$dll" || { echo "run-example: regsvr32 /u failed with $?" >&2; exit 1; }
printf '%s\n' "$output" | grep -q '^TELVARIO-EXAMPLE-DONE failures=0' || {
  echo "run-example: the script did not reach its end without failures" >&2
  exit 1
}
[ "$status" -eq 0 ] || { echo "run-example: cscript exited with $status" >&2; exit 1; }
