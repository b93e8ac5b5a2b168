#!/bin/bash
# The route command beside mtr's report on a path of three routers, in namespaces of this bench's
# own (tvb-rt-c, -r, -r2, -r3, -s):
#   client 10.213.40.1 - r 10.213.40.2 | 10.213.41.1 - r2 10.213.41.2 | 10.213.42.1
#   - r3 10.213.42.2 | 10.213.43.1 - server 10.213.43.10          (IPv6 twins beside them)
# Each router holds every packet for a draw around a delay of its own, each way (the test lab's
# delay element: this kernel has no netem): r 5 ms, r2 10 ms, r3 5 ms, sd 0.5 to 1 ms, so each
# hop adds 10, 20 and 10 ms to the round trip and the server nothing. r2 limits its ICMP answers
# (icmp_ratelimit 250 ms: some four time-exceeded answers a second once its burst is spent), so
# that its own loss is high while nothing is lost through it; the link from r3 to the server
# loses 10% of what crosses it (a delay element of no delay on the server's side drops it on
# arrival), so that the loss shows at the destination alone. For IPv4 and IPv6, one after the other: ROUNDS rounds 100 ms apart by
# telvario route, then by mtr --report, the delay elements restarted before each so that both
# meet the same draws. Prints both tables, then hop by hop the differences and the goals: loss
# within 5 points of mtr's, mean within 0.5 ms + 5 %, best and worst side by side, the limiting
# router's loss at its hop with ~0 carried on, the lossy link's loss carried to the destination,
# and what each hop adds against the delays put there.
# Root only. Usage: bench/route_vs_mtr.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
rounds=${2:-200}
command -v mtr >/dev/null || { echo "route_vs_mtr: needs mtr (scripts/install-deps bench)" >&2; exit 1; }
began=$SECONDS
source bench/routed_path.sh

# link SIDE_A DEVICE_A 10.213.N.H SIDE_B DEVICE_B 10.213.N.H: a pair of devices between two sides.
link() {
  ip link add "$2" netns "$path_name-$1" type veth peer name "$5" netns "$path_name-$4"
  address "$1" "$2" "$3"
  address "$4" "$5" "$6"
}

chain_up() {
  path_name=tvb-rt
  path_sides="c r r2 r3 s"
  trap path_down EXIT
  trap 'exit 130' INT TERM
  ip route replace blackhole "$block"
  ip -6 route replace blackhole "$block6"
  local side
  for side in $path_sides; do
    ip netns add "$path_name-$side"
    ip -n "$path_name-$side" link set lo up
    in_ns "$side" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 \
      net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0 net.ipv4.icmp_msgs_per_sec=1000000
  done
  link c tvb-cr 10.213.40.1 r tvb-rc 10.213.40.2
  link r tvb-r2 10.213.41.1 r2 tvb-2r 10.213.41.2
  link r2 tvb-23 10.213.42.1 r3 tvb-32 10.213.42.2
  link r3 tvb-3s 10.213.43.1 s tvb-s3 10.213.43.10
  route c 10.213.43.0 10.213.40.2
  route r 10.213.42.0 10.213.41.2
  route r 10.213.43.0 10.213.41.2
  route r2 10.213.40.0 10.213.41.1
  route r2 10.213.43.0 10.213.42.2
  route r3 10.213.40.0 10.213.42.1
  route r3 10.213.41.0 10.213.42.1
  route s 10.213.40.0 10.213.43.1
  for side in r r2 r3; do
    in_ns "$side" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  done
  in_ns r2 sysctl -qw net.ipv4.icmp_ratelimit=250 net.ipv6.icmp.ratelimit=250
  path_delay_rules r tvb-rc
  path_delay_rules r2 tvb-2r
  path_delay_rules r3 tvb-32
  path_delay_rules s tvb-s3
}

restart_delays() {
  path_delay_at r 5 --sd 0.5 --seed 1 -- 5 --sd 0.5 --seed 2
  path_delay_at r2 10 --sd 1 --seed 3 -- 10 --sd 1 --seed 4
  path_delay_at r3 5 --sd 0.5 --seed 5 -- 5 --sd 0.5 --seed 6
  path_delay_at s 0 --loss 10 --seed 7 -- 0
}

chain_up
export TELVARIO_REGISTRY=$path_state/user.sqlite3 TELVARIO_MACHINE_REGISTRY=$path_state/machine.sqlite3

for family in 4 6; do
  host=10.213.43.10
  [ "$family" = 6 ] && host=$(six "$host")
  # The table a person reads, then the figures compared, each run meeting the same draws.
  restart_delays
  in_ns c "$build/bin/telvario" route "$host" "-$family" --probes "$rounds" --interval 100 \
    --max-hops 8 >"$path_state/ours$family.txt" || true
  restart_delays
  in_ns c "$build/bin/telvario" route "$host" "-$family" --probes "$rounds" --interval 100 \
    --max-hops 8 --json >"$path_state/ours$family.json" || true
  restart_delays
  in_ns c mtr -n "-$family" --report --report-wide -c "$rounds" -i 0.1 -m 8 "$host" \
    >"$path_state/mtr$family.txt"
  echo "== IPv$family to $host, $rounds rounds 100 ms apart =="
  echo "-- telvario route"
  cat "$path_state/ours$family.txt"
  echo "-- mtr --report"
  cat "$path_state/mtr$family.txt"
  /usr/bin/python3 - "$path_state/ours$family.json" "$path_state/mtr$family.txt" <<'EOF'
import json
import re
import sys

ours = json.load(open(sys.argv[1]))["Hops"]
mtr = {}
for line in open(sys.argv[2]):
    m = re.match(r"\s*(\d+)\.\|--\s+(\S+)\s+([\d.]+)%\s+(\d+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+"
                 r"([\d.]+)", line)
    if m:
        mtr[int(m.group(1))] = {"address": m.group(2), "loss": float(m.group(3)),
                                "mean": float(m.group(6)), "best": float(m.group(7)),
                                "worst": float(m.group(8))}
added = {1: 10, 2: 20, 3: 10, 4: 0}  # ms each hop adds to the round trip
misses = []


def goal(ok, what):
    print(("  met   " if ok else "  MISSED ") + what)
    if not ok:
        misses.append(what)


print("-- hop by hop (ours - mtr's)")
print("hop  loss%: ours  mtr   diff   mean: ours    mtr   diff  limit   best: ours   mtr"
      "  worst: ours   mtr  forward%  added  put")
for hop in ours:
    i, other = hop["Hop"], mtr.get(hop["Hop"])
    if other is None:
        print("%3d  mtr has no such hop" % i)
        continue
    loss, mean = 100 * hop["Loss"], hop.get("LatencyMean")
    limit = 0.5 + 0.05 * other["mean"]
    fmt = lambda v: "%6.1f" % v if v is not None else "     -"  # noqa: E731
    print("%3d  %11.1f %5.1f %6.1f %11s %6.1f %6s %6.2f %11s %5.1f %11s %5.1f %9.1f %6s %4d" % (
        i, loss, other["loss"], loss - other["loss"], fmt(mean), other["mean"],
        fmt(mean - other["mean"]) if mean is not None else "     -", limit,
        fmt(hop.get("LatencyMin")), other["best"], fmt(hop.get("LatencyMax")), other["worst"],
        100 * hop["ForwardLoss"], fmt(hop.get("AddedLatency")), added.get(i, 0)))
print("-- the goals")
for hop in ours:
    other = mtr.get(hop["Hop"])
    if other is None:
        goal(False, "hop %d: mtr saw it too" % hop["Hop"])
        continue
    goal(abs(100 * hop["Loss"] - other["loss"]) <= 5,
         "hop %d: loss within 5 points of mtr's" % hop["Hop"])
    if hop.get("LatencyMean") is not None:
        goal(abs(hop["LatencyMean"] - other["mean"]) <= 0.5 + 0.05 * other["mean"],
             "hop %d: mean within 0.5 ms + 5 %% of mtr's" % hop["Hop"])
    if hop.get("AddedLatency") is not None:
        goal(abs(hop["AddedLatency"] - added.get(hop["Hop"], 0)) <= 2,
             "hop %d: adds %.1f ms, the %d ms put there (within 2 ms)"
             % (hop["Hop"], hop["AddedLatency"], added.get(hop["Hop"], 0)))
if len(ours) >= 4:
    limiting, end = ours[1], ours[-1]
    goal(limiting["Loss"] >= 0.2 and limiting["ForwardLoss"] <= 0.03 and
         "limits its answers" in limiting.get("Reading", ""),
         "the limiting router: %.0f%% lost at its hop, %.1f%% carried on, read as its own"
         % (100 * limiting["Loss"], 100 * limiting["ForwardLoss"]))
    goal(0.04 <= end["ForwardLoss"] <= 0.17 and end.get("Reading", "") == "",
         "the lossy link's %.1f%% carried to the destination" % (100 * end["ForwardLoss"]))
else:
    goal(False, "the route reached the destination at hop 4")
print("%d goals missed" % len(misses) if misses else "every goal met")
EOF
  echo
done
echo "route_vs_mtr: $((SECONDS - began)) s"
