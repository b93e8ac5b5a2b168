#!/bin/bash
# The bounded soak (soak_bench.cpp) against loopback servers of the upload tests' namespace:
# tvl-ftp's FTP server on port 21 (tests/lab/ftp_lab.sh) and an HTTP test server beside it,
# whose /silent never answers (the stalled rounds).
# Root only. Usage: bench/soak.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
pidfile=$(mktemp)
tests/lab/ftp_lab.sh up
trap 'kill "$(cat "$pidfile")" 2>/dev/null || true; rm -f "$pidfile"; tests/lab/ftp_lab.sh down' EXIT
ip netns exec tvl-ftp python3 tests/http_test_server.py --port 18099 --pidfile "$pidfile"
ip netns exec tvl-ftp sysctl -qw net.ipv4.ping_group_range="0 2147483647"
ip netns exec tvl-ftp "$build/bin/soak_bench" http://127.0.0.1:18099/bytes/100000 \
  http://127.0.0.1:18099/silent 127.0.0.1 /run/telvario-ftp/root/writable/temp
