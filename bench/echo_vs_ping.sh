#!/bin/bash
# PingTime against iputils ping on the test network's 40 ms path (router 1 holds each packet
# 20 ms each way), side by side in one run: the same host, count, fill size, interval and
# don't-fragment. Prints both averages and their difference. Root only; brings the lab up and
# takes it down. Usage: bench/echo_vs_ping.sh [BUILD_DIR] [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
count=${2:-50}
host=10.213.3.10
lab=tests/lab/lab.sh

command -v ping >/dev/null || { echo "echo_vs_ping: needs iputils ping" >&2; exit 1; }
trap '"$lab" down' EXIT
"$lab" up

in_client() { ip netns exec tvl-client "$@"; }
# PingReps is at most 100: larger counts run in rounds.
component_times=()
left=$count
while [ "$left" -gt 0 ]; do
  reps=$((left > 100 ? 100 : left))
  json=$(in_client "$build/bin/telvario" ping "$host" --reps "$reps" --size 32 --json)
  mapfile -t round < <(python3 -c 'import json,sys
d=json.loads(sys.argv[1]); print("\n".join(str(v) for k,v in d.items() if k.startswith("RTT(")))' "$json")
  component_times+=("${round[@]}")
  left=$((left - reps))
done
ping_avg=$(in_client ping -n -q -c "$count" -i 0.1 -s 32 -M do -Q 8 "$host" |
           sed -n 's|.*= [0-9.]*/\([0-9.]*\)/.*|\1|p')

python3 - "$ping_avg" "${component_times[@]}" <<'REPORT'
import sys
ping = float(sys.argv[1])
times = [int(t) for t in sys.argv[2:]]
answered = [t for t in times if t >= 0]
mean = sum(answered) / len(answered)
print(f"requests            {len(times)} each, 32 bytes of fill, 100 ms apart")
print(f"PingTime (RTT mean) {mean:8.3f} ms   ({len(answered)} answered; whole milliseconds)")
print(f"iputils ping avg    {ping:8.3f} ms")
print(f"difference          {mean - ping:+8.3f} ms")
REPORT
