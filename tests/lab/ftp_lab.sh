#!/bin/bash
# The upload tests' network: a namespace of their own, tvl-ftp, with nothing but loopback, where
# FTP servers listen on port 21 (tests/ftp_test_server.py, which needs Debian's
# python3-pyftpdlib):
#   127.0.0.1  anonymous, with a writable /temp
#   127.0.0.2  anonymous, without /temp
#   127.0.0.3  anonymous, with a writable /temp, resetting each data connection after 1 MiB
#   127.0.0.9  a host that never answers (everything sent to it is dropped)
# Names resolve from a hosts file only: the namespace's name server does not exist, so every
# other name fails at once. Root only. Usage: ftp_lab.sh up|down
set -u
# TELVARIO_LAB_PREFIX (tvl unless set) names the namespace and its state, as lab.sh's.
p=${TELVARIO_LAB_PREFIX:-tvl}
namespace=$p-ftp
state=/run/telvario-ftp
if [ "$p" != tvl ]; then state=$state-$p; fi
here=$(cd "$(dirname "$0")/.." && pwd)

source "$here/lab/loopback_namespace.sh"

down() {
  if [ -s "$state/pid" ]; then kill "$(cat "$state/pid")" 2>/dev/null || true; fi
  loopback_namespace_down "$namespace"
  rm -rf "$state"
}

up() {
  set -e
  down
  loopback_namespace_up "$namespace" '127.0.0.1 localhost ftp.lab.test' \
    $'nameserver 127.0.0.1\noptions timeout:1 attempts:1'
  mkdir -p "$state/root"
  ip netns exec "$namespace" nft -f - <<'RULES'
table ip ftplab {
  chain output {
    type filter hook output priority 0;
    ip daddr 127.0.0.9 drop
  }
}
RULES
  ip netns exec "$namespace" /usr/bin/python3 "$here/ftp_test_server.py" --root "$state/root" \
    --journal "$state/journal" --pidfile "$state/pid" \
    --writable 127.0.0.1 --no-temp 127.0.0.2 --dropping 127.0.0.3
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: ftp_lab.sh up|down" >&2; exit 2 ;;
esac
