#!/bin/bash
# The throughput command against iperf3 on two routed paths of this bench's own (tvb-tp-c, -r,
# -s; bench/routed_path.sh), every side with cubic:
#   (a) a long fast line that one connection cannot fill while several can: 20 ms each way on
#       the router (the test lab's delay element) and RATE_A (100 Mbit/s unless given; "none"
#       for whatever this machine carries), with every receive buffer held to 256 KiB on both
#       ends (a window of about 30 Mbit/s a connection at 40 ms);
#   (b) the 50 Mbit/s token bucket of the shaped benches, here on the router.
# On each, in the same run: iperf3 -P STREAMS both ways (-R for the download; -O 1 leaves out
# the first second, as the component leaves out its start-up), `telvario throughput` with the
# same streams and seconds, and one connection down: iperf3 -P 1 -R beside ReadURL
# (`telvario download`) of about SECONDS' worth of bytes at that rate. iperf3's rate is its
# receiver's. The HTTP server is bench/bytes_server.cpp (the Python test server answers a POST
# in two writes under Nagle's rule, so each upload body waits a delayed ACK more).
# Then one connection each way: iperf3 -P 1 (-R) beside the throughput command with one
# stream. Then on loopback (no shaping): CPU seconds per GiB (user+sys) of the component's
# Download and Upload (4 connections, 10 s: their defaults) beside curl --parallel moving the
# same bytes.
# The user-space delay element and both ends share this machine's cores: unshaped, path (a)
# carries what they leave each other, which wanders with whatever else runs; the token bucket
# keeps the path the same for both tools.
# Root only. Usage: bench/throughput_vs_iperf.sh [BUILD_DIR] [STREAMS] [SECONDS] [RATE_A]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
streams=${2:-8}
seconds=${3:-10}
rate_a=${4:-100mbit}
began=$SECONDS
for tool in iperf3 curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "throughput_vs_iperf: needs $tool (scripts/install-deps bench)" >&2; exit 1; }
done
source bench/routed_path.sh
server=10.213.51.10
window="4096 131072 262144"

path_up tvb-tp 50
figures=$path_state/figures  # lines: PATH NAME Mbit/s
export TELVARIO_REGISTRY=$path_state/user.sqlite3 TELVARIO_MACHINE_REGISTRY=$path_state/machine.sqlite3
"$build/bin/telvario" register >/dev/null  # into the registries above, for `telvario call`
in_ns s "$build/bin/bytes_server" "$server" 8080 "$path_state/bytes.pid"
in_ns s iperf3 -s -B "$server" -D -I "$path_state/iperf3.pid"
sleep 0.3  # iperf3 -D returns before it listens

json_value() { python3 -c 'import json,sys; print(eval("json.load(sys.stdin)" + sys.argv[1]))' "$1"; }
record() { echo "$1 $2 $3" >>"$figures"; }

# iperf PATH NAME ARGS...: iperf3's received rate in Mbit/s.
iperf() {
  local rate
  rate=$(in_ns c iperf3 -c "$server" -t "$seconds" -O 1 -J "${@:3}" |
    json_value '["end"]["sum_received"]["bits_per_second"] / 1e6')
  record "$1" "$2" "$rate"
}

# component_throughput PATH STREAMS SUFFIX: the throughput command's rates, each way.
component_throughput() {
  local out
  out=$(in_ns c "$build/bin/telvario" throughput "http://$server:8080/bytes/68719476736" \
    --upload "http://$server:8080/upload" --streams "$2" --duration "$seconds" --yes --json)
  record "$1" "download$3" "$(json_value '["Download"]' <<<"$out")"
  record "$1" "upload$3" "$(json_value '["Upload"]' <<<"$out")"
}

# ReadURL of about `seconds` worth of bytes at iperf3's single-connection rate.
component_readurl() {
  local rate bytes
  rate=$(awk -v p="$1" '$1 == p && $2 == "iperf-single" { print $3 }' "$figures")
  bytes=$(awk -v r="$rate" -v s="$seconds" 'BEGIN { printf "%d", r * 1e6 / 8 * s }')
  rate=$(in_ns c "$build/bin/telvario" download "http://$server:8080/bytes/$bytes" --json |
    json_value '["ReadURL"] / 1000')
  record "$1" readurl "$rate"
}

measure() {
  iperf "$1" iperf-download -P "$streams" -R
  component_throughput "$1" "$streams" ""
  iperf "$1" iperf-upload -P "$streams"
  iperf "$1" iperf-single -P 1 -R
  component_readurl "$1"
  iperf "$1" iperf-single-up -P 1
  component_throughput "$1" 1 -single
}

default_window=$(in_ns c sysctl -n net.ipv4.tcp_rmem)
path_delay_rules
path_delay 20 -- 20
path_shape "$rate_a"
for side in c s; do in_ns "$side" sysctl -qw net.ipv4.tcp_rmem="$window"; done
measure a

path_no_delay
path_shape 50mbit
for side in c s; do in_ns "$side" sysctl -qw net.ipv4.tcp_rmem="$default_window"; done
measure b

# Loopback, in the server's namespace (its lo counts only these bytes): what each moves and
# the CPU it takes.
in_ns s "$build/bin/bytes_server" 127.0.0.1 8081 "$path_state/loopback.pid"
lo_bytes() { in_ns s cat /sys/class/net/lo/statistics/rx_bytes; }
cpu_per_gib() {  # NAME COMMAND...: user and sys seconds per GiB the command moved over lo
  local before after user sys
  before=$(lo_bytes)
  in_ns s /usr/bin/time -f '%U %S' -o "$path_state/time" "${@:2}" >/dev/null
  after=$(lo_bytes)
  read -r user sys <"$path_state/time"
  record loopback "$1-bytes" "$((after - before))"
  record loopback "$1-user" "$user"
  record loopback "$1-sys" "$sys"
}
cpu_per_gib component "$build/bin/telvario" call Download http://127.0.0.1:8081/bytes/68719476736
moved=$(awk '$2 == "component-bytes" { print $3 }' "$figures")
urls=()
for _ in 1 2 3 4; do urls+=(-o /dev/null "http://127.0.0.1:8081/bytes/$((moved / 4))"); done
cpu_per_gib curl curl -sS --no-progress-meter --parallel --parallel-max 4 "${urls[@]}"
# Uploads: the component's bodies come from memory; curl's from a GiB file of bytes that do not
# compress, which the page cache holds once written, posted as often as makes the component's
# bytes.
cpu_per_gib component-up "$build/bin/telvario" call --yes Upload http://127.0.0.1:8081/upload
upload_file=$path_state/upload
head -c 1G /dev/urandom >"$upload_file"
moved=$(awk '$2 == "component-up-bytes" { print $3 }' "$figures")
posts=()
for _ in $(seq $(((moved + 2**29) / 2**30 > 4 ? (moved + 2**29) / 2**30 : 4))); do
  posts+=(-o /dev/null -X POST -T "$upload_file" http://127.0.0.1:8081/upload)
done
cpu_per_gib curl-up curl -sS --no-progress-meter --parallel --parallel-max 4 "${posts[@]}"
rm -f "$upload_file"

python3 - "$figures" "$streams" "$seconds" "$rate_a" <<'REPORT'
import sys
figures, streams, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
f = {}
for line in open(figures):
    path, name, value = line.split()
    f[path, name] = float(value)
titles = {"a": f"(a) 40 ms round trip, {sys.argv[4]}, receive buffers 256 KiB",
          "b": "(b) 50 Mbit/s token bucket on the router"}
print(f"{streams} streams, {seconds} s each measurement; rates in Mbit/s")
for path in "ab":
    print(f"\n{titles[path]}")
    print(f"  {'':28} {'telvario':>9} {'iperf3':>9} {'ratio':>7}")
    rows = [(f"download, {streams} streams", "download", "iperf-download"),
            (f"upload, {streams} streams", "upload", "iperf-upload"),
            ("download, 1 stream (ReadURL)", "readurl", "iperf-single"),
            ("download, 1 stream", "download-single", "iperf-single"),
            ("upload, 1 stream", "upload-single", "iperf-single-up")]
    for title, ours, theirs in rows:
        a, b = f[path, ours], f[path, theirs]
        print(f"  {title:28} {a:9.2f} {b:9.2f} {a / b:7.3f}")
print("\nloopback, 4 connections: CPU seconds per GiB")
print(f"  {'':20} {'user':>6} {'sys':>6} {'total':>6}")
cost = {}
for name, title in (("component", "telvario Download"), ("curl", "curl --parallel"),
                    ("component-up", "telvario Upload"), ("curl-up", "curl --parallel -T")):
    gib = f["loopback", name + "-bytes"] / 2**30
    user, system = f["loopback", name + "-user"] / gib, f["loopback", name + "-sys"] / gib
    cost[name] = user + system
    print(f"  {title:20} {user:6.3f} {system:6.3f} {user + system:6.3f}   ({gib:.2f} GiB)")
print(f"  ratio, download {cost['component'] / cost['curl']:25.3f}")
print(f"  ratio, upload {cost['component-up'] / cost['curl-up']:27.3f}")
REPORT
echo
echo "congestion control: cubic (the machine's default: $(sysctl -n net.ipv4.tcp_congestion_control))"
echo "whole bench: $((SECONDS - began)) s; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
