#!/bin/bash
# UploadTest against curl -T over a path shaped to 50 Mbit/s: a client and a server namespace
# of this script's own, joined by a veth pair whose client side is held to the rate by a token
# bucket, with the FTP test server (python3-pyftpdlib) on port 21 of the server side. Both
# upload actively to the same server, one after the other; curl's rate is its data phase (from
# the transfer's start to its end). Root only. Usage: bench/shaped_upload.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
state=$(mktemp -d)
source bench/shaped_path.sh
shaped_path_up client
trap 'shaped_path_down; rm -rf "$state"' EXIT

mkdir -p "$state/root"
ip netns exec tvb-server /usr/bin/python3 tests/ftp_test_server.py --root "$state/root" \
  --journal "$state/journal" --pidfile "$server_pidfile" --writable 10.213.1.2

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
