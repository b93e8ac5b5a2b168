#!/bin/sh
# Runs a program inside a lab namespace with its ping group range set for the while, then puts
# the range back. Usage: with-ping-range.sh NAMESPACE "LOW HIGH" PROGRAM [ARGS...]
set -eu
namespace=$1 range=$2
shift 2
exec ip netns exec "$namespace" sh -c '
  range=$1
  shift
  saved=$(sysctl -n net.ipv4.ping_group_range)
  sysctl -qw net.ipv4.ping_group_range="$range"
  status=0
  "$@" || status=$?
  sysctl -qw net.ipv4.ping_group_range="$saved"
  exit $status' sh "$range" "$@"
