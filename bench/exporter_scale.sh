#!/bin/bash
# telvario exporter at scale: 500 targets (loopback addresses 127.0.x.y in a network namespace of
# the bench's own) at one echo request a second each for 60 s, then Debian's
# prometheus-smokeping-prober on the same targets for as long, one after the other so that
# neither measures the other's load. For each: CPU (user and system) per request, resident
# memory after the first seconds and at the end, and every request accounted for (sent, and
# counted answered or lost, none lost on loopback). Fails where ours takes more than a twentieth
# of the yardstick's CPU per request, where its memory grows, or where a request is unaccounted.
# Root only. Usage: bench/exporter_scale.sh [BUILD_DIR] [TARGETS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
targets=${2:-500}
seconds=${3:-60}
namespace=telvario-exporter-bench-$$
work=$(mktemp -d)

command -v prometheus-smokeping-prober >/dev/null ||
  { echo "exporter_scale: needs prometheus-smokeping-prober (scripts/install-deps bench)" >&2; exit 1; }
cleanup() {
  [ -n "${running:-}" ] && kill "$running" 2>/dev/null && wait "$running" 2>/dev/null
  ip netns del "$namespace" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$namespace"
ip -n "$namespace" link set lo up  # all of 127.0.0.0/8 answers there

addresses=()
for ((i = 0; i < targets; i++)); do addresses+=("127.0.$((1 + i / 250)).$((1 + i % 250))"); done
{
  echo "latency:"
  for address in "${addresses[@]}"; do printf '  - target: %s\n    interval: 1s\n' "$address"; done
} >"$work/exporter.yaml"

# One program's run: its pid in $running, its URL in $url.
start_exporter() {
  ip netns exec "$namespace" "$build/bin/telvario" exporter --listen 127.0.0.1:0 \
    --config "$work/exporter.yaml" >"$work/exporter.out" 2>&1 &
  running=$!
  for _ in $(seq 50); do
    url=$(sed -n 's|.*listening on \(http://[^ ]*\)/$|\1|p' "$work/exporter.out")
    [ -n "$url" ] && return
    sleep 0.2
  done
  echo "exporter_scale: the exporter did not start: $(cat "$work/exporter.out")" >&2
  exit 1
}
start_yardstick() {
  ip netns exec "$namespace" prometheus-smokeping-prober --privileged --ping.interval=1s \
    --web.listen-address=127.0.0.1:19374 --log.level=warn "${addresses[@]}" \
    >"$work/yardstick.out" 2>&1 &
  running=$!
  url=http://127.0.0.1:19374
}

# "CPU_SECONDS RSS_KIB" of the running program.
usage() {
  local ticks
  ticks=$(awk '{ print $14 + $15 }' "/proc/$running/stat")
  echo "$(echo "$ticks / $(getconf CLK_TCK)" | bc -l) $(awk '/^VmRSS/ { print $2 }' "/proc/$running/status")"
}
scrape() { ip netns exec "$namespace" curl -s --max-time 10 "$url/metrics"; }

# One program measured, scraped every 5 s as a monitoring system would: its CPU and memory at
# the start and at the end, and its first and last pages, in $work. The first pages come before
# the start's figures, so that the program is at its working size, scrapes included.
measure() {
  local name=$1 first last
  sleep 5  # every target started
  scrape >"$work/$name.first"
  first=$(usage)
  for ((passed = 0; passed < seconds; passed += 5)); do
    sleep 5
    scrape >"$work/$name.last"
  done
  last=$(usage)
  kill "$running"
  wait "$running" 2>/dev/null || true
  running=
  echo "$first $last" >"$work/$name.usage"
}

start_exporter
measure exporter
start_yardstick
measure yardstick

python3 - "$work" "$targets" "$seconds" <<'REPORT'
import re, sys
work, targets, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def total(path, name):
    pattern = re.compile(r"^" + name + r"(\{[^}]*\})? ([0-9.e+]+)$", re.M)
    return sum(float(v) for _, v in pattern.findall(open(path).read()))

def usage(name):
    cpu0, rss0, cpu1, rss1 = (float(v) for v in open(f"{work}/{name}.usage").read().split())
    return cpu1 - cpu0, rss0, rss1

rows = {}
for name, sent, settled, answered in (
        ("exporter", "telvario_exporter_echo_sent_total", "telvario_echo_requests_total",
         "telvario_echo_replies_total"),
        ("yardstick", "smokeping_requests_total", "smokeping_requests_total",
         "smokeping_response_duration_seconds_count")):
    cpu, rss0, rss1 = usage(name)
    requests = total(f"{work}/{name}.last", sent) - total(f"{work}/{name}.first", sent)
    last_sent = total(f"{work}/{name}.last", sent)
    accounted = total(f"{work}/{name}.last", settled)
    replies = total(f"{work}/{name}.last", answered)
    rows[name] = (cpu, requests, rss0, rss1, last_sent, accounted, replies)

print(f"{targets} targets on loopback, 1 request a second each, {seconds} s measured")
print(f"{'':24} {'requests':>9} {'CPU s':>8} {'CPU/request':>12} {'RSS start':>10} {'RSS end':>9}")
for name, label in (("exporter", "telvario exporter"), ("yardstick", "smokeping_prober")):
    cpu, requests, rss0, rss1, *_ = rows[name]
    print(f"{label:24} {requests:9.0f} {cpu:8.2f} {cpu / requests * 1e6:9.1f} us "
          f"{rss0 / 1024:7.1f} MB {rss1 / 1024:6.1f} MB")
cpu, requests, rss0, rss1, sent, accounted, replies = rows["exporter"]
theirs = rows["yardstick"][0] / rows["yardstick"][1]
ours = cpu / requests
expected = targets * seconds
problems = []
if ours > theirs / 20:
    problems.append(f"CPU per request {ours * 1e6:.1f} us is over a twentieth of {theirs * 1e6:.1f} us")
if rss1 > rss0 * 1.05 + 1024:
    problems.append(f"memory grew from {rss0:.0f} to {rss1:.0f} KiB")
if abs(requests - expected) > targets:
    problems.append(f"{requests:.0f} requests sent in {seconds} s, not {expected}")
if sent - accounted > targets or replies != accounted:
    problems.append(f"{sent:.0f} sent, {accounted:.0f} accounted for, {replies:.0f} answered")
print(f"ours per request: 1/{theirs / ours:.0f} of the yardstick's; "
      f"{sent:.0f} sent, {accounted:.0f} accounted for ({sent - accounted:.0f} on their way), "
      f"{replies:.0f} answered")
for problem in problems:
    print("exporter_scale: " + problem, file=sys.stderr)
sys.exit(1 if problems else 0)
REPORT
