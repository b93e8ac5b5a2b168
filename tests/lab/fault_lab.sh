#!/bin/bash
# The fault lab: a namespace of its own, tvl-faults, with nothing but loopback, where servers of
# the tests' own misbehave, one fault each:
#   HTTP on 127.0.0.1 (tests/faulty_http_server.py): port 18301 stalls after 1 MiB of a
#     declared 16 MiB, 18302 never answers, 18303 resets after 1 MiB, 18304 closes cleanly after
#     1 MiB, 18305 sends bad chunking, 18306 trickles a byte a second and stops after 8, 18307
#     crawls at 50 bytes a second, 18308 redirects to itself, 34463 (99999 less 65536) sends
#     more than it declared, 18309 answers 500, 18310 answers POST with 405; each writes the
#     requests it gets to a journal
#   HTTP that behaves, on 18300 (tests/http_test_server.py)
#   FTP on port 21 (tests/faulty_ftp_server.py): 127.0.0.11 never greets, 127.0.0.12 never
#     answers STOR, 127.0.0.13 stalls a data connection after 1 MiB, 127.0.0.14 resets it after
#     1 MiB, 127.0.0.15 refuses DELE, 127.0.0.16 reads at 1 KiB a second, 127.0.0.17 never
#     confirms an upload, 127.0.0.18 never answers DELE on the session that uploaded
#   The same faults held for 3 s only, for the tests that shorten the component's limits:
#     HTTP 18311 never answers, 18312 stalls after 1 MiB, 18313 crawls; FTP 127.0.0.21 to .26
#     as .11, .12, .13, .16, .17, .18 (their files under root-short)
#   dual.fault.test is ::1 and 127.0.0.1 (in the namespace's hosts file; ::1 comes first), where
#     only IPv4 is served
#   DNS on 127.0.0.53 (tests/slow_dns_server.py), the namespace's name server: slow.fault.test
#     is answered after 3 s, silent.fault.test never; the resolver keeps its own defaults
# Every server ends what it holds after a bounded time, and stops by itself. Root only.
# Usage: fault_lab.sh up|down
set -u
# TELVARIO_LAB_PREFIX (tvl unless set) names the namespace and its state, as lab.sh's.
p=${TELVARIO_LAB_PREFIX:-tvl}
namespace=$p-faults
state=/run/telvario-faults
if [ "$p" != tvl ]; then state=$state-$p; fi
here=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3  # Debian's, with pyftpdlib

source "$here/lab/loopback_namespace.sh"

down() {
  for pidfile in "$state"/*.pid; do
    if [ -s "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
  done
  loopback_namespace_down "$namespace"
  rm -rf "$state"
}

up() {
  set -e
  down
  loopback_namespace_up "$namespace" $'127.0.0.1 localhost dual.fault.test\n::1 dual.fault.test' \
    'nameserver 127.0.0.53'
  mkdir -p "$state/root"
  run() { ip netns exec "$namespace" "$python" "$@"; }

  http() {  # FAULT PORT [options]
    run "$here/faulty_http_server.py" --fault "$1" --port "$2" --pidfile "$state/http-$2.pid" \
      --journal "$state/http-$2.journal" "${@:3}"
  }
  port=18301
  for fault in stall silent reset short bad-chunks trickle crawl loop; do
    http "$fault" "$port"
    port=$((port + 1))
  done
  http longer 34463
  http error 18309
  http no-post 18310
  http silent 18311 --hold 3
  http stall 18312 --hold 3
  http crawl 18313 --hold 3
  run "$here/http_test_server.py" --port 18300 --pidfile "$state/http-18300.pid"
  run "$here/faulty_ftp_server.py" --root "$state/root" --journal "$state/journal" \
    --pidfile "$state/ftp.pid" --no-greeting 127.0.0.11 --silent-stor 127.0.0.12 \
    --stalling 127.0.0.13 --resetting 127.0.0.14 --no-delete 127.0.0.15 \
    --slow-reader 127.0.0.16 --no-226 127.0.0.17 --busy-dele 127.0.0.18
  run "$here/faulty_ftp_server.py" --root "$state/root-short" --journal "$state/journal-short" \
    --pidfile "$state/ftp-short.pid" --hold 3 --no-greeting 127.0.0.21 --silent-stor 127.0.0.22 \
    --stalling 127.0.0.23 --slow-reader 127.0.0.24 --no-226 127.0.0.25 --busy-dele 127.0.0.26
  run "$here/slow_dns_server.py" --address 127.0.0.53 --pidfile "$state/dns.pid"
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: fault_lab.sh up|down" >&2; exit 2 ;;
esac
