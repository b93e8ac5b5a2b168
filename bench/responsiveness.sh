#!/bin/bash
# Responsiveness on a 20 Mbit/s bottleneck with a deep queue and with a shallow one, on a routed
# path of this bench's own (tvb-rpm-c, -r, -s; bench/routed_path.sh), every side with cubic: the
# router adds 10 ms each way (the test lab's delay element) and sends no faster than 20 Mbit/s
# either way through a token bucket that holds QUEUE_DEEP_MS (300 unless given) or
# QUEUE_SHALLOW_MS (5) of packets. On each, in the same run:
#   - iputils ping every 100 ms, idle, then while iperf3 -P STREAMS -R fills the download (what
#     RRUL-style tests do), its first second left out as iperf3 -O 1 leaves it out;
#   - `telvario responsiveness` on the same path: its idle latency, its loaded latency (echo
#     requests at every sample of its own download, after the start-up) and its RPM.
# Prints idle and loaded latency from each tool and the RPM. Goals: telvario's loaded latency
# within 10% of ping's under the same load; the deep queue's RPM at most a third of the
# shallow queue's.
# Root only. Usage: bench/responsiveness.sh [BUILD_DIR] [SECONDS] [QUEUE_DEEP_MS] [QUEUE_SHALLOW_MS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
seconds=${2:-10}
deep_ms=${3:-300}
shallow_ms=${4:-5}
streams=4
began=$SECONDS
for tool in iperf3 ping; do
  command -v "$tool" >/dev/null ||
    { echo "responsiveness: needs $tool (scripts/install-deps bench)" >&2; exit 1; }
done
source bench/routed_path.sh
server=10.213.61.10

path_up tvb-rpm 60
figures=$path_state/figures  # lines: QUEUE NAME VALUE
export TELVARIO_REGISTRY=$path_state/user.sqlite3 TELVARIO_MACHINE_REGISTRY=$path_state/machine.sqlite3
in_ns s "$build/bin/bytes_server" "$server" 8080 "$path_state/bytes.pid"
in_ns s iperf3 -s -B "$server" -D -I "$path_state/iperf3.pid"
sleep 0.3  # iperf3 -D returns before it listens
path_delay_rules
path_delay 10 -- 10

record() { echo "$1 $2 $3" >>"$figures"; }
json_value() { python3 -c 'import json,sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"; }

# bottleneck MS: 20 Mbit/s each way on the router, the queue holding MS of it.
bottleneck() {
  local device
  for device in tvb-rc tvb-rs; do
    in_ns r tc qdisc del dev "$device" root 2>/dev/null || true
    in_ns r tc qdisc add dev "$device" root tbf rate 20mbit burst 5kb \
      limit $((20000000 / 8 * $1 / 1000 + 5120))
  done
}

# ping_times FILE FROM: the round trips ping printed (-D), of replies stamped from FROM on.
ping_times() {
  sed -n 's/^\[\([0-9.]*\)\].*time=\([0-9.]*\) ms$/\1 \2/p' "$1" |
    awk -v from="$2" '$1 >= from { print $2 }'
}

measure() {  # QUEUE
  local queue=$1 start
  in_ns c ping -n -i 0.1 -c 10 -W 2 "$server" >"$path_state/idle-$queue.txt"
  sed -n 's/.*time=\([0-9.]*\) ms$/\1/p' "$path_state/idle-$queue.txt" >"$path_state/idle-$queue"

  start=$(date +%s.%N)
  in_ns c iperf3 -c "$server" -R -P "$streams" -t "$seconds" -J >"$path_state/iperf-$queue.json" &
  local iperf=$!
  in_ns c ping -D -n -i 0.1 -w "$seconds" -W 2 "$server" >"$path_state/loaded-$queue.txt" || true
  wait "$iperf"
  local from
  from=$(awk -v s="$start" 'BEGIN { printf "%.6f", s + 1 }')
  ping_times "$path_state/loaded-$queue.txt" "$from" >"$path_state/loaded-$queue"
  record "$queue" iperf-mbps "$(python3 -c 'import json,sys
print(json.load(open(sys.argv[1]))["end"]["sum_received"]["bits_per_second"] / 1e6)' \
    "$path_state/iperf-$queue.json")"

  local out key
  out=$(in_ns c "$build/bin/telvario" responsiveness "http://$server:8080/bytes/68719476736" \
    --streams "$streams" --duration "$seconds" --json)
  for key in IdleLatency LoadedLatency LoadedLatencyP90 RPM; do
    record "$queue" "$key" "$(json_value "$key" <<<"$out")"
  done
}

bottleneck "$deep_ms"
measure deep
bottleneck "$shallow_ms"
measure shallow

python3 - "$path_state" "$seconds" "$deep_ms" "$shallow_ms" <<'REPORT'
import statistics, sys
state, seconds = sys.argv[1], sys.argv[2]
f = {}
for line in open(f"{state}/figures"):
    queue, name, value = line.split()
    f[queue, name] = float(value)

def times(name):
    return sorted(float(line) for line in open(f"{state}/{name}") if line.strip())

def rank(values, share):  # nearest rank, as the component ranks
    return values[max(0, -(-len(values) * share // 100) - 1)] if values else float("nan")

queues = {"deep": sys.argv[3], "shallow": sys.argv[4]}
print(f"20 Mbit/s each way, 10 ms each way on the router, {seconds} s of load; latency in ms")
print(f"{'queue':16} {'':10} {'idle':>7} {'loaded':>8} {'p90':>8} {'ratio':>6} {'RPM':>7} {'Mbit/s':>7}")
ok = True
for queue, depth in queues.items():
    idle, loaded = times(f"idle-{queue}"), times(f"loaded-{queue}")
    ping_median = rank(loaded, 50)
    ping_rpm = 60000 / statistics.mean(loaded)
    print(f"{queue + ' (' + depth + ' ms)':16} {'ping':10} {rank(idle, 50):7.2f} {ping_median:8.2f} "
          f"{rank(loaded, 90):8.2f} {'':>6} {ping_rpm:7.0f} {f[queue, 'iperf-mbps']:7.2f}"
          f"   ({len(loaded)} replies; RPM as 60000 / their mean)")
    ratio = f[queue, "LoadedLatency"] / ping_median
    ok = ok and abs(ratio - 1) <= 0.10
    print(f"{'':16} {'telvario':10} {f[queue, 'IdleLatency']:7.2f} {f[queue, 'LoadedLatency']:8.2f} "
          f"{f[queue, 'LoadedLatencyP90']:8.2f} {ratio:6.3f} {f[queue, 'RPM']:7.0f}")
rpm_ratio = f["deep", "RPM"] / f["shallow", "RPM"]
print(f"\nloaded latency within 10% of ping's: {'yes' if ok else 'no'}")
print(f"deep RPM / shallow RPM: {rpm_ratio:.3f} (goal at most 0.333: {'yes' if rpm_ratio <= 1 / 3 else 'no'})")
REPORT
echo
echo "congestion control: cubic (the machine's default: $(sysctl -n net.ipv4.tcp_congestion_control))"
echo "whole bench: $((SECONDS - began)) s; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
