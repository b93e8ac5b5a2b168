#!/bin/sh
# Runs a command with a virtual display of its own (Xvfb), named to Wine sessions started by
# tests/lab/wine-in-lab.sh through TELVARIO_DISPLAY, and stops the display afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
set -eu
number=77
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
  number=$((number + 1))
done
Xvfb ":$number" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT
tries=0
until [ -e "/tmp/.X11-unix/X$number" ]; do
  tries=$((tries + 1))
  [ $tries -le 100 ] || { echo "with-xvfb: the display did not start" >&2; exit 1; }
  sleep 0.1
done
status=0
TELVARIO_DISPLAY=":$number" "$@" || status=$?
exit $status
