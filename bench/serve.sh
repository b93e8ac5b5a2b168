#!/bin/bash
# `telvario serve` beside the yardsticks, on a routed path of this bench's own (tvs-serve-c, -r,
# -s; bench/routed_path.sh), every side with cubic:
#   (a) the lab's 50 Mbit/s token bucket on the router: iperf3 -P STREAMS each way (-R for the
#       download; -O 1 leaves out the first second, as the client leaves out its start-up)
#       beside `telvario throughput` against `telvario serve` with the same streams and
#       seconds; and `telvario responsiveness` against it, its load downloading and then both
#       ways at once: its RPM, and its load's rate beside iperf3 -R and iperf3 --bidir.
#   (b) loopback, in the server's namespace: telvario serve, nginx (Debian's, one worker,
#       serving a file of the same incompressible bytes and discarding uploads) and iperf3 -s,
#       each loaded by the same client with 1, 4 and 16 connections for SECONDS each way
#       (`telvario throughput` for the HTTP servers; iperf3 -c for iperf3, which speaks no
#       HTTP): the rate, and the server's CPU seconds (user+sys, from /proc) per GiB it moved;
#       then each way alone, with curl on 4 connections, for telvario serve and nginx.
#   (c) connections held, by telvario serve and by nginx, each started afresh: resident memory
#       idle, with 10,000 idle connections, with 1,000 more downloading at once (read as fast
#       as they come), and after all are closed.
# Root only. Usage: bench/serve.sh [BUILD_DIR] [STREAMS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
streams=${2:-4}
seconds=${3:-10}
began=$SECONDS
for tool in iperf3 nginx python3; do
  command -v "$tool" >/dev/null ||
    { echo "serve bench: needs $tool (scripts/install-deps bench)" >&2; exit 1; }
done
source bench/routed_path.sh
server=10.213.67.10
telvario=$(realpath "$build/bin/telvario")

path_up tvs-serve 66
figures=$path_state/figures  # lines: PART NAME VALUE
json_value() { python3 -c 'import json,sys; print(eval("json.load(sys.stdin)" + sys.argv[1]))' "$1"; }
record() { echo "$1 $2 $3" >>"$figures"; }
# Ten thousand idle connections and a thousand downloads need files on both ends.
ulimit -n "$(ulimit -Hn)"
serve_options=(--max-connections 12000 --max-connections-per-client 12000 --idle-timeout 600)

# --- (a) the 50 Mbit/s path ---------------------------------------------------------------------
daemon serve s "$telvario" serve --listen "$server:8080" "${serve_options[@]}"
daemon iperf3 s iperf3 -s -B "$server"
sleep 0.5
path_shape 50mbit
iperf_rate() {  # PART NAME ARGS...: iperf3's received rate in Mbit/s (both ways' with --bidir)
  local out
  out=$(in_ns c iperf3 -c "$server" -t "$seconds" -O 1 -J "${@:3}")
  record "$1" "$2" "$(python3 -c 'import json, sys
end = json.load(sys.stdin)["end"]
print(sum(end[key]["bits_per_second"] / 1e6 for key in end
          if key in ("sum_received", "sum_received_bidir_reverse")))' <<<"$out")"
}
iperf_rate a iperf-download -P "$streams" -R
iperf_rate a iperf-upload -P "$streams"
out=$(in_ns c "$telvario" throughput "http://$server:8080/large" --upload \
  "http://$server:8080/upload" --streams "$streams" --duration "$seconds" --yes --json)
record a download "$(json_value '["Download"]' <<<"$out")"
record a upload "$(json_value '["Upload"]' <<<"$out")"
# Responsiveness loads the link with downloads, or with downloads and uploads at once: its
# load's rate beside iperf3's, downloading (-R) and both ways at once (--bidir).
iperf_rate a iperf-bidir -P "$streams" --bidir
for way in download both; do
  load=()
  [ "$way" = download ] || load=(--upload --yes)
  out=$(in_ns c "$telvario" responsiveness "http://$server:8080/large" "${load[@]}" \
    --streams "$streams" --duration "$seconds" --json)
  record a "rpm-$way" "$(json_value '["RPM"]' <<<"$out")"
  record a "load-$way" "$(json_value '["LoadThroughput"]' <<<"$out")"
done
path_shape none
stop_daemon serve
stop_daemon iperf3

# --- (b) loopback: rate and CPU per GiB ---------------------------------------------------------
block_bytes=$((1 << 30))
head -c "$block_bytes" /dev/urandom >"$path_state/large"
cat >"$path_state/nginx.conf" <<NGINX
worker_processes 1;
worker_rlimit_nofile 20000;
pid $path_state/nginx.pid;
error_log $path_state/nginx-error.log;
events { worker_connections 16000; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  client_body_temp_path $path_state;
  server {
    listen 127.0.0.1:8092 reuseport;
    root $path_state;
    location = /upload { client_max_body_size 0; return 200; }
  }
}
NGINX
in_ns s nginx -c "$path_state/nginx.conf" -g "daemon on;" 2>/dev/null
daemon serve s "$telvario" serve --listen 127.0.0.1:8091 "${serve_options[@]}"
daemon iperf3 s iperf3 -s -B 127.0.0.1 -p 8093
sleep 0.5
nginx_pids() {  # the master and its workers
  local master
  master=$(cat "$path_state/nginx.pid")
  echo "$master" $(pgrep -P "$master")
}
cpu_ticks() {  # PID...: user+sys clock ticks
  local total=0 pid
  for pid in "$@"; do total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat"))); done
  echo "$total"
}
http_load() {  # NAME URL-BASE N PIDS...
  local before out
  before=$(cpu_ticks "${@:4}")
  out=$(in_ns s "$telvario" throughput "$2/large" --upload "$2/upload" --streams "$3" \
    --duration "$seconds" --yes --json)
  record b "$1-$3-ticks" "$(($(cpu_ticks "${@:4}") - before))"
  record b "$1-$3-bytes" "$(python3 -c 'import json,sys
j = json.load(sys.stdin)
print(j["DownloadBytes"] + j["UploadBytes"])' <<<"$out")"
  record b "$1-$3-download" "$(json_value '["Download"]' <<<"$out")"
  record b "$1-$3-upload" "$(json_value '["Upload"]' <<<"$out")"
}
iperf_load() {  # N
  local before down up pid
  pid=$(cat "$path_state/iperf3.pid")
  before=$(cpu_ticks "$pid")
  down=$(in_ns s iperf3 -c 127.0.0.1 -p 8093 -t "$seconds" -O 1 -J -P "$1" -R)
  up=$(in_ns s iperf3 -c 127.0.0.1 -p 8093 -t "$seconds" -O 1 -J -P "$1")
  record b "iperf3-$1-ticks" "$(($(cpu_ticks "$pid") - before))"
  record b "iperf3-$1-bytes" "$(python3 -c 'import json,sys
print(sum(json.loads(t)["end"]["sum_sent"]["bytes"] for t in sys.argv[1:]))' "$down" "$up")"
  local rate='["end"]["sum_received"]["bits_per_second"] / 1e6'
  record b "iperf3-$1-download" "$(json_value "$rate" <<<"$down")"
  record b "iperf3-$1-upload" "$(json_value "$rate" <<<"$up")"
}
for n in 1 4 16; do
  http_load serve http://127.0.0.1:8091 "$n" "$(cat "$path_state/serve.pid")"
  # shellcheck disable=SC2046
  http_load nginx http://127.0.0.1:8092 "$n" $(nginx_pids)
  iperf_load "$n"
done
stop_daemon iperf3
# Each way alone, with curl on 4 connections: 4 GiB down (4 bodies of 1 GiB), 800 MB up (4
# bodies of 200 MB, sent as read from a file).
head -c 200000000 /dev/zero >"$path_state/upload"
one_way() {  # NAME WAY URL PIDS...
  local before urls=() _
  before=$(cpu_ticks "${@:4}")
  for _ in 1 2 3 4; do
    [ "$2" = down ] || urls+=(-T "$path_state/upload")
    urls+=(-o /dev/null "$3")
  done
  local method=GET
  [ "$2" = down ] || method=POST
  in_ns s curl -sS --no-progress-meter --parallel --parallel-max 4 -X "$method" "${urls[@]}"
  record b "$1-$2-ticks" "$(($(cpu_ticks "${@:4}") - before))"
}
one_way serve down "http://127.0.0.1:8091/bytes/$block_bytes" "$(cat "$path_state/serve.pid")"
one_way serve up http://127.0.0.1:8091/upload "$(cat "$path_state/serve.pid")"
# shellcheck disable=SC2046
one_way nginx down http://127.0.0.1:8092/large $(nginx_pids)
# shellcheck disable=SC2046
one_way nginx up http://127.0.0.1:8092/upload $(nginx_pids)
# Fresh servers for the memory they hold.
stop_daemon serve
in_ns s nginx -c "$path_state/nginx.conf" -s stop 2>/dev/null || true
while [ -s "$path_state/nginx.pid" ]; do sleep 0.05; done
in_ns s nginx -c "$path_state/nginx.conf" -g "daemon on;" 2>/dev/null
daemon serve s "$telvario" serve --listen 127.0.0.1:8091 "${serve_options[@]}"
sleep 0.5

# --- (c) connections held -----------------------------------------------------------------------
held() {  # NAME PORT PIDS...: resident kB idle, with 10,000 idle, with 1,000 more downloading, after
  in_ns s python3 - "$2" "${@:3}" <<'HOLD' | while read -r stage kb; do record c "$1-$stage" "$kb"; done
import selectors, socket, sys, time
port, pids = int(sys.argv[1]), sys.argv[2:]
def resident():
    return sum(int(open(f"/proc/{p}/status").read().split("VmRSS:")[1].split()[0]) for p in pids)
def connect(n):  # from 200 addresses, as many clients would
    return socket.create_connection(("127.0.0.1", port), source_address=(f"127.0.{1 + n % 200}.1", 0))
print("idle", resident())
idle = [connect(n) for n in range(10000)]
time.sleep(1)
print("idle-10000", resident())
active, chosen = [], selectors.DefaultSelector()
for n in range(1000):
    s = connect(10000 + n)
    s.sendall(b"GET /large HTTP/1.1\r\nHost: bench\r\n\r\n")
    s.setblocking(False)
    chosen.register(s, selectors.EVENT_READ)
    active.append(s)
ends, most = time.monotonic() + 5, 0
while time.monotonic() < ends:
    for key, _ in chosen.select(0.1):
        try:
            key.fileobj.recv(1 << 20)
        except BlockingIOError:
            pass
    most = max(most, resident())
print("active-1000", most)
for s in idle + active:
    s.close()
time.sleep(2)
print("after", resident())
HOLD
}
held serve 8091 "$(cat "$path_state/serve.pid")"
# shellcheck disable=SC2046
held nginx 8092 $(nginx_pids)
in_ns s nginx -c "$path_state/nginx.conf" -s stop 2>/dev/null || true
stop_daemon serve

python3 - "$figures" "$streams" "$seconds" <<'REPORT'
import sys
figures, streams, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
f = {}
for line in open(figures):
    part, name, value = line.split()
    f[part, name] = float(value)
print(f"(a) 50 Mbit/s token bucket on the router, {streams} streams, {seconds} s each; Mbit/s")
print(f"  {'':10} {'telvario':>9} {'iperf3':>9} {'ratio':>7}")
for way in ("download", "upload"):
    ours, theirs = f["a", way], f["a", "iperf-" + way]
    print(f"  {way:10} {ours:9.2f} {theirs:9.2f} {ours / theirs:7.3f}")
print("  responsiveness against telvario serve: its load's rate beside iperf3's, and its RPM")
for way, theirs in (("download", "iperf-download"), ("both", "iperf-bidir")):
    ours = f["a", f"load-{way}"]
    print(f"  {way:10} {ours:9.2f} {f['a', theirs]:9.2f} {ours / f['a', theirs]:7.3f}"
          f"   {f['a', f'rpm-{way}']:.0f} RPM")
print(f"\n(b) loopback, {seconds} s each way: Mbit/s down/up, and the server's CPU s per GiB moved")
print(f"  {'':8} {'telvario serve':>26} {'nginx (1 worker)':>26} {'iperf3 -s':>26}")
for n in (1, 4, 16):
    cells = []
    for name in ("serve", "nginx", "iperf3"):
        gib = f["b", f"{name}-{n}-bytes"] / 2**30
        cpu = f["b", f"{name}-{n}-ticks"] / 100 / gib
        cells.append(f"{f['b', f'{name}-{n}-download']:7.0f}/{f['b', f'{name}-{n}-upload']:<6.0f}"
                     f" {cpu:6.3f} s/GiB")
    print(f"  {n:2} conn  " + " ".join(f"{c:>26}" for c in cells))
print("  each way alone, curl on 4 connections (4 GiB down, 800 MB up): CPU s per GiB")
for name, title in (("serve", "telvario serve"), ("nginx", "nginx (1 worker)")):
    down = f["b", f"{name}-down-ticks"] / 100 / 4
    up = f["b", f"{name}-up-ticks"] / 100 / (4 * 200e6 / 2**30)
    print(f"    {title:18} down {down:6.3f}  up {up:6.3f}")
print("\n(c) resident memory, MiB")
print(f"  {'':18} {'idle':>7} {'+10,000 idle':>13} {'+1,000 active':>14} {'after':>7}")
for name, title in (("serve", "telvario serve"), ("nginx", "nginx (1 worker)")):
    row = [f["c", f"{name}-{s}"] / 1024 for s in ("idle", "idle-10000", "active-1000", "after")]
    print(f"  {title:18} {row[0]:7.1f} {row[1]:13.1f} {row[2]:14.1f} {row[3]:7.1f}")
REPORT
echo
echo "whole bench: $((SECONDS - began)) s; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
