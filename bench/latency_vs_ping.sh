#!/bin/bash
# The latency command against iputils ping on a jittery, lossy path like the test lab's
# tvl-jitter, rebuilt here in namespaces of this bench's own (tvb-lat-c, -r, -s): the router
# holds each packet for a draw from a normal distribution of 20 ms, sd 2.5 ms, each way, and
# drops 5% of what comes from the client. For IPv4 and IPv6, one after the other (never at once,
# so they never share the delay element's queue): COUNT probes 10 ms apart of 32 data bytes by
# each. The delay elements restart before each run, so both meet the same draws: the same
# probes are lost, and the same delays met but where replies reach the router in another order
# (each draw goes to the next packet to arrive). Prints min, median, mean, p90, p99, max,
# jitter and loss of both side by side with their differences: ping's min, mean and max from
# its summary, its percentiles by nearest rank from its per-probe lines (tenths of a
# millisecond), its jitter as the mean absolute difference of consecutive replies in send order
# (the component's rule), its loss from its summary's counts.
# The same again for each Windows build there is (build/win64, build/win32 where 32-bit Wine
# runs): its telvario.exe and Telvario.DLL under Wine, in a Wine session inside the client's
# namespace (IPv4 only: Wine has no ICMPv6 echo). Then every run once more with both cores kept
# busy by two CPU-bound loops, which ping's kernel time stamps do not feel and a measurement of
# our own must not either.
# Root only. Usage: bench/latency_vs_ping.sh [BUILD_DIR] [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
count=${2:-1000}
windows_builds=""
for preset in win64 win32; do
  [ -f "build/$preset/bin/telvario.exe" ] || continue
  [ "$preset" = win32 ] && ! wine --version >/dev/null 2>&1 && continue
  windows_builds="$windows_builds $preset"
done
began=$SECONDS
command -v ping >/dev/null || { echo "latency_vs_ping: needs iputils ping" >&2; exit 1; }
source bench/routed_path.sh

path_up tvb-lat 40
path_delay_rules
# The client's registries in the bench's own folder: nothing outside is touched.
export TELVARIO_REGISTRY=$path_state/user.sqlite3 TELVARIO_MACHINE_REGISTRY=$path_state/machine.sqlite3

restart_delay() { path_delay 20 --sd 2.5 --loss 5 --seed 1 -- 20 --sd 2.5 --seed 2; }

# The Windows client of PRESET under Wine, in the client's namespace.
windows_client() {
  local preset=$1 arch=win64 loader=/usr/lib/wine/wine64
  [ "$preset" = win32 ] && arch=win32 loader=wine
  tests/lab/wine-in-lab.sh "$path_name-c" "$PWD/build/$preset/wineprefix" "$arch" "$loader" \
    "$PWD/build/$preset/bin/telvario.exe" "${@:2}"
}

# measure TAG FAMILY HOST: ping and each client once, the same draws for each; their outputs in
# $path_state, named by TAG.
measure() {
  restart_delay
  in_ns c ping "-$2" -n -i 0.01 -c "$count" -s 32 -W 1 "$3" >"$path_state/ping$1$2.txt" || true
  restart_delay
  in_ns c "$build/bin/telvario" latency "$3" --probes "$count" --interval 10 "-$2" --json \
    >"$path_state/native$1$2.json"
  [ "$2" = 4 ] || return 0
  local preset
  for preset in $windows_builds; do
    restart_delay
    windows_client "$preset" latency "$3" --probes "$count" --interval 10 -4 --json \
      >"$path_state/$preset$1$2.json" || true
  done
}

busy() {
  for _ in 1 2; do
    sh -c 'while :; do :; done' &
    echo $! >>"$path_state/busy.pid"
  done
}
quiet() {
  kill $(cat "$path_state/busy.pid") 2>/dev/null || true
  rm -f "$path_state/busy.pid"
}

measure idle 4 10.213.41.10
measure idle 6 "$(six 10.213.41.10)"
busy
measure busy 4 10.213.41.10
measure busy 6 "$(six 10.213.41.10)"
quiet

python3 - "$path_state" "$count" native $windows_builds <<'REPORT'
import json, os, re, sys
state, count, clients = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def nearest_rank(values, percent):
    values = sorted(values)
    rank = max(1, -(-len(values) * percent // 100))  # ceil, at least the first
    return values[int(rank) - 1]

def ping_figures(text):
    times = {}
    for seq, ms in re.findall(r"icmp_seq=(\d+) .*time=([\d.]+) ms(?! \(DUP!\))", text):
        times.setdefault(int(seq), float(ms))
    sent, got = map(int, re.search(r"(\d+) packets transmitted, (\d+) received", text).groups())
    low, mean, high = map(float, re.search(r"= ([\d.]+)/([\d.]+)/([\d.]+)/", text).groups())
    ordered = [times[s] for s in sorted(times)]
    jitter = sum(abs(b - a) for a, b in zip(ordered, ordered[1:])) / max(1, len(ordered) - 1)
    return {"min": low, "mean": mean, "max": high,
            "median": nearest_rank(ordered, 50), "p90": nearest_rank(ordered, 90),
            "p99": nearest_rank(ordered, 99), "jitter": jitter, "loss": 1 - got / sent,
            "sent": sent, "received": got}

def component_figures(path):
    d = json.load(open(path))
    return {"min": d["LatencyMin"], "mean": d["LatencyMean"], "max": d["LatencyMax"],
            "median": d["LatencyMedian"], "p90": d["LatencyP90"], "p99": d["LatencyP99"],
            "jitter": d["Jitter"], "loss": d["Loss"], "sent": d["Sent"], "received": d["Received"]}

print(f"{count} probes 10 ms apart each, 32 data bytes; 20 ms ± 2.5 ms each way, 5% loss ahead")
print("ping's min, mean and max from its summary (microseconds); its percentiles and jitter from")
print("its per-probe lines, which show tenths of a millisecond")
for load in ("idle", "busy"):
    for family in "46":
        p = ping_figures(open(f"{state}/ping{load}{family}.txt").read())
        for client in clients:
            path = f"{state}/{client}{load}{family}.json"
            if not os.path.exists(path) or os.path.getsize(path) == 0:
                continue
            t = component_figures(path)
            print(f"\nIPv{family}, {load}, {client:8} telvario      ping     difference")
            for key in ("min", "median", "mean", "p90", "p99", "max", "jitter"):
                print(f"  {key + ' (ms)':14} {t[key]:9.3f} {p[key]:9.3f} {t[key] - p[key]:+9.3f}")
            print(f"  {'loss (%)':14} {100 * t['loss']:9.2f} {100 * p['loss']:9.2f} "
                  f"{100 * (t['loss'] - p['loss']):+9.2f} points")
            print(f"  {'answered':14} {t['received']:>9}/{t['sent']} {p['received']:>5}/{p['sent']}")
            ok = (abs(t["median"] - p["median"]) <= 0.3 and abs(t["p90"] - p["p90"]) <= 1.2
                  and abs(t["loss"] - p["loss"]) <= 0.015)
            print(f"  goal (median within 0.3 ms, p90 within 1.2 ms, loss within 1.5 points): "
                  f"{'met' if ok else 'MISSED'}")
REPORT
echo
echo "whole bench: $((SECONDS - began)) s; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
