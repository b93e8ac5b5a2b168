#!/bin/bash
# ReadURL against curl over a path shaped to 50 Mbit/s: a client and a server namespace of this
# script's own, joined by a veth pair whose server side is held to the rate by a token bucket.
# Root only. Usage: bench/shaped_download.sh [BUILD_DIR] [BYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
bytes=${2:-33554432}
source bench/shaped_path.sh
shaped_path_up server

ip netns exec tvb-server python3 tests/http_test_server.py --host 10.213.1.2 --port 8080 --pidfile "$server_pidfile"
echo "50 Mbit/s shaped path:"
ip netns exec tvb-client "$build/bin/download_bench" http://10.213.1.2:8080 "$bytes"
