#!/bin/bash
# ReadURL against curl over a path shaped to 50 Mbit/s: a client and a server namespace of this
# script's own, joined by a veth pair whose server side is held to the rate by a token bucket.
# Root only. Usage: bench/shaped_download.sh [BUILD_DIR] [BYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
bytes=${2:-33554432}
block=10.213.0.0/16  # the lab's addresses; never routed out of this machine
pidfile=$(mktemp)

cleanup() {
  [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  rm -f "$pidfile"
  ip netns del tvb-client 2>/dev/null || true
  ip netns del tvb-server 2>/dev/null || true
  ip route del blackhole "$block" 2>/dev/null || true
}
trap cleanup EXIT

ip route add blackhole "$block"
ip netns add tvb-client
ip netns add tvb-server
ip link add tvb-c netns tvb-client type veth peer name tvb-s netns tvb-server
ip -n tvb-client addr add 10.213.1.1/24 dev tvb-c
ip -n tvb-server addr add 10.213.1.2/24 dev tvb-s
for ns in tvb-client tvb-server; do ip -n "$ns" link set lo up; done
ip -n tvb-client link set tvb-c up
ip -n tvb-server link set tvb-s up
ip netns exec tvb-server tc qdisc add dev tvb-s root tbf rate 50mbit burst 64kb latency 100ms

ip netns exec tvb-server python3 tests/http_test_server.py --host 10.213.1.2 --port 8080 --pidfile "$pidfile"
echo "50 Mbit/s shaped path:"
ip netns exec tvb-client "$build/bin/download_bench" http://10.213.1.2:8080 "$bytes"
