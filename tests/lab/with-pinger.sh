#!/bin/sh
# Runs a command while another process pings a host from a lab namespace, a request every 2 ms
# for at most a minute; the pinging ends with the command.
# Usage: with-pinger.sh NAMESPACE HOST COMMAND [ARGS...]
set -eu
namespace=$1 host=$2
shift 2
ip netns exec "$namespace" ping -q -i 0.002 -w 60 "$host" >/dev/null 2>&1 &
pinger=$!
status=0
"$@" || status=$?
kill "$pinger" 2>/dev/null || true
wait "$pinger" 2>/dev/null || true
exit $status
