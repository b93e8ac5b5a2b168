#!/bin/sh
# Two network namespaces of a test's own, joined by a veth pair: NAME-c, where the test runs,
# 10.218.0.1 and fd00:218::1, and NAME-s, 10.218.0.2 and fd00:218::2, a host that answers no
# echo request of either family. Nothing is routed anywhere else. Root only.
# Usage: silent_host.sh up|down NAME LINK (LINK: the veth names' stem, at most 14 characters)
set -u
action=$1 name=$2 link=$3

down() {
  ip netns del "$name-c" 2>/dev/null || true
  ip netns del "$name-s" 2>/dev/null || true
}

case $action in
  down) down ;;
  up)
    down
    set -e
    ip netns add "$name-c"
    ip netns add "$name-s"
    ip link add "${link}c" netns "$name-c" type veth peer name "${link}s" netns "$name-s"
    for side in c s; do
      ip -n "$name-$side" link set lo up
    done
    ip -n "$name-c" addr add 10.218.0.1/24 dev "${link}c"
    ip -n "$name-s" addr add 10.218.0.2/24 dev "${link}s"
    ip -n "$name-c" -6 addr add fd00:218::1/64 dev "${link}c" nodad
    ip -n "$name-s" -6 addr add fd00:218::2/64 dev "${link}s" nodad
    ip -n "$name-c" link set "${link}c" up
    ip -n "$name-s" link set "${link}s" up
    ip netns exec "$name-s" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    ip netns exec "$name-s" sysctl -qw net.ipv6.icmp.echo_ignore_all=1
    ;;
  *) echo "silent_host.sh: up or down, not $action" >&2; exit 2 ;;
esac
