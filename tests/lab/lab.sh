#!/bin/bash
# The test network: namespaces of the tests' own, brought up and torn down by the tests.
#   tvl-client  10.213.2.1   the host under test; its resolver is the lab's name server
#   tvl-dns     10.213.2.2   dnsmasq serving the lab zone (started here, not as a service)
#   tvl-nodns                a host whose name server does not answer
# The lab's block is blackholed in the root namespace, so nothing meant for the lab can leave
# this machine from outside it. Root only. Usage: lab.sh up|down
set -u
block=10.213.0.0/16
pidfile=/run/telvario-lab-dnsmasq.pid

down() {
  if [ -s "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
  rm -f "$pidfile"
  for ns in tvl-client tvl-dns tvl-nodns; do
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  done
  rmdir /etc/netns 2>/dev/null || true
  ip route del blackhole "$block" 2>/dev/null || true
}

# A name resolution setup for a lab host: its own hosts file and resolver, nothing else.
resolver() {
  mkdir -p "/etc/netns/$1"
  printf '127.0.0.1 localhost\n' >"/etc/netns/$1/hosts"
  printf 'nameserver %s\noptions timeout:1 attempts:1\n' "$2" >"/etc/netns/$1/resolv.conf"
  printf 'hosts: files dns\n' >"/etc/netns/$1/nsswitch.conf"
}

up() {
  set -e
  down
  ip route add blackhole "$block"
  for ns in tvl-client tvl-dns tvl-nodns; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
  done
  ip link add tvl-c netns tvl-client type veth peer name tvl-d netns tvl-dns
  ip -n tvl-client addr add 10.213.2.1/24 dev tvl-c
  ip -n tvl-dns addr add 10.213.2.2/24 dev tvl-d
  ip -n tvl-client link set tvl-c up
  ip -n tvl-dns link set tvl-d up
  resolver tvl-client 10.213.2.2
  resolver tvl-nodns 127.0.0.1

  # host.lab.test has an address and its reverse record; nodata.lab.test exists without
  # address records; every other name of lab.test does not exist. The component's check host
  # resolves to its expected address.
  ip netns exec tvl-dns dnsmasq --no-resolv --no-hosts --no-poll --bind-interfaces \
    --listen-address=10.213.2.2 --except-interface=lo --pid-file="$pidfile" --user=root \
    --local=/lab.test/ --local=/2.213.10.in-addr.arpa/ \
    --host-record=host.lab.test,10.213.2.10 \
    --txt-record=nodata.lab.test,"no address here" \
    --host-record=a.root-servers.net,198.41.0.4
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: lab.sh up|down" >&2; exit 2 ;;
esac
