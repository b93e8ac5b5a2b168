#!/bin/bash
# UploadTest against curl -T over a path shaped to 50 Mbit/s: a client and a server namespace
# of this script's own, joined by a veth pair whose client side is held to the rate by a token
# bucket, with the FTP test server (python3-pyftpdlib) on port 21 of the server side. Both
# upload actively to the same server, one after the other; curl's rate is its data phase (from
# the transfer's start to its end). Root only. Usage: bench/shaped_upload.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
block=10.213.0.0/16  # the lab's addresses; never routed out of this machine
state=$(mktemp -d)

cleanup() {
  [ -s "$state/pid" ] && kill "$(cat "$state/pid")" 2>/dev/null
  rm -rf "$state"
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
ip netns exec tvb-client tc qdisc add dev tvb-c root tbf rate 50mbit burst 64kb latency 100ms

mkdir -p "$state/root"
ip netns exec tvb-server /usr/bin/python3 tests/ftp_test_server.py --root "$state/root" \
  --journal "$state/journal" --pidfile "$state/pid" --writable 10.213.1.2

component=$(ip netns exec tvb-client "$build/bin/telvario" upload 10.213.1.2 --yes --json |
  sed -n 's/.*"UploadTest": \(-\{0,1\}[0-9]*\).*/\1/p')

head -c $((32 * 1024 * 1024)) /dev/urandom >"$state/data"
read -r size start total < <(ip netns exec tvb-client curl -sS --ftp-port - -T "$state/data" \
  -w '%{size_upload} %{time_starttransfer} %{time_total}\n' -o /dev/null \
  ftp://10.213.1.2//temp/curl.tmp)
ip netns exec tvb-client curl -sS -Q "DELE /temp/curl.tmp" ftp://10.213.1.2/ -o /dev/null
curl_rate=$(awk -v s="$size" -v a="$start" -v b="$total" 'BEGIN { printf "%d", s * 8 / (b - a) / 1000 }')

echo "50 Mbit/s shaped path (upload, active FTP):"
printf '  UploadTest   %8s kbit/s\n' "$component"
printf '  curl -T      %8s kbit/s  (%s bytes in %.3f s of data phase)\n' "$curl_rate" "$size" \
  "$(awk -v a="$start" -v b="$total" 'BEGIN { print b - a }')"
awk -v a="$component" -v b="$curl_rate" 'BEGIN { printf "  ratio        %8.3f\n", a / b }'
