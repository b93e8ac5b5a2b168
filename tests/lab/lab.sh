#!/bin/bash
# The test network: namespaces of the tests' own, brought up and torn down by the tests.
#   tvl-client  10.213.2.1   the host under test; its resolver is the lab's name server
#   tvl-dns     10.213.2.2   dnsmasq serving the lab zone (started here, not as a service)
#   tvl-nodns                a host whose name server does not answer
# and a routed chain from the client to a destination side:
#   tvl-client 10.213.10.1 - tvl-r1 10.213.10.2 | 10.213.11.1 - tvl-r2 10.213.11.2 | 10.213.12.1
#   - tvl-r3 10.213.12.2 | 10.213.3.1, 10.213.4.1, 10.213.5.1 - tvl-host    10.213.3.10
#                                                             - tvl-silent  10.213.4.10
#                                                             - tvl-behind  10.213.5.10
#                                                             - tvl-garbled 10.213.6.10
# Router 1 holds every packet that enters or leaves it for 20 ms (delay_queue.cpp), so every
# round trip through it takes about 40 ms. tvl-silent ignores echo requests; router 2 sends no
# time-exceeded answers for packets to tvl-behind; router 3's time-exceeded answers for packets
# to tvl-garbled quote a garbled header (garble_queue.cpp): an identifier and sequence number
# nobody sent.
# The lab's block is blackholed in the root namespace, so nothing meant for the lab can leave
# this machine from outside it. Root only. Usage: lab.sh up|down
set -u
block=10.213.0.0/16
pidfile=/run/telvario-lab-dnsmasq.pid
delay_pidfile=/run/telvario-lab-delay.pid
delay_program=/run/telvario-lab/delay_queue
garble_pidfile=/run/telvario-lab-garble.pid
garble_program=/run/telvario-lab/garble_queue
here=$(cd "$(dirname "$0")" && pwd)
namespaces="tvl-client tvl-dns tvl-nodns tvl-r1 tvl-r2 tvl-r3 tvl-host tvl-silent tvl-behind
            tvl-garbled"

down() {
  for file in "$pidfile" "$delay_pidfile" "$garble_pidfile"; do
    if [ -s "$file" ]; then kill "$(cat "$file")" 2>/dev/null || true; fi
    rm -f "$file"
  done
  for ns in $namespaces; do
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

# A link between two namespaces: link NS1 DEV1 ADDR1 NS2 DEV2 ADDR2 (addresses with /24).
link() {
  ip link add "$2" netns "$1" mtu 9000 type veth peer name "$5" netns "$4" mtu 9000
  ip -n "$1" addr add "$3" dev "$2"
  ip -n "$4" addr add "$6" dev "$5"
  ip -n "$1" link set "$2" up
  ip -n "$4" link set "$5" up
}

# Routers and hosts answer every probe: no rate limit on the ICMP messages they send.
icmp_unlimited() {
  ip netns exec "$1" sysctl -qw net.ipv4.icmp_ratelimit=0
  ip netns exec "$1" sysctl -qw net.ipv4.icmp_msgs_per_sec=1000000 2>/dev/null || true
  ip netns exec "$1" sysctl -qw net.ipv4.icmp_msgs_burst=1000000 2>/dev/null || true
}

# A queue program of the lab, built here from its source when missing or older.
build() {
  mkdir -p "$(dirname "$2")"
  if [ ! -x "$2" ] || [ "$here/$1.cpp" -nt "$2" ]; then
    g++ -std=c++20 -O2 -o "$2" "$here/$1.cpp" -lnetfilter_queue
  fi
}

# The delay element of router 1.
start_delay() {
  build delay_queue "$delay_program"
  for chain in PREROUTING OUTPUT; do
    ip netns exec tvl-r1 iptables -t mangle -A "$chain" -j NFQUEUE --queue-num 0
  done
  ip netns exec tvl-r1 "$delay_program" 0 20 </dev/null >/dev/null 2>&1 &
  echo $! >"$delay_pidfile"
}

# Router 3's garbling element, for its time-exceeded answers about tvl-garbled (the quoted
# destination, 24 bytes into the message).
start_garble() {
  build garble_queue "$garble_program"
  # Marked by nft, which can match the quoted destination, and queued by iptables, since this
  # kernel queues only through iptables' NFQUEUE target.
  ip netns exec tvl-r3 nft -f - <<'RULES'
table ip lab {
  chain output {
    type filter hook output priority -200;
    icmp type time-exceeded @th,192,32 0x0ad5060a meta mark set 0x7
  }
}
RULES
  ip netns exec tvl-r3 iptables -t mangle -A OUTPUT -m mark --mark 0x7 -j NFQUEUE --queue-num 1
  ip netns exec tvl-r3 "$garble_program" 1 </dev/null >/dev/null 2>&1 &
  echo $! >"$garble_pidfile"
}

routed_chain() {
  link tvl-client tvl-c1 10.213.10.1/24 tvl-r1 tvl-r1a 10.213.10.2/24
  link tvl-r1 tvl-r1b 10.213.11.1/24 tvl-r2 tvl-r2a 10.213.11.2/24
  link tvl-r2 tvl-r2b 10.213.12.1/24 tvl-r3 tvl-r3a 10.213.12.2/24
  link tvl-r3 tvl-r3h 10.213.3.1/24 tvl-host tvl-h 10.213.3.10/24
  link tvl-r3 tvl-r3s 10.213.4.1/24 tvl-silent tvl-s 10.213.4.10/24
  link tvl-r3 tvl-r3b 10.213.5.1/24 tvl-behind tvl-b 10.213.5.10/24
  link tvl-r3 tvl-r3g 10.213.6.1/24 tvl-garbled tvl-g 10.213.6.10/24
  ip -n tvl-client route add 10.213.0.0/16 via 10.213.10.2
  ip -n tvl-r1 route add default via 10.213.11.2
  ip -n tvl-r2 route add 10.213.10.0/24 via 10.213.11.1
  ip -n tvl-r2 route add default via 10.213.12.2
  ip -n tvl-r3 route add default via 10.213.12.1
  ip -n tvl-host route add default via 10.213.3.1
  ip -n tvl-silent route add default via 10.213.4.1
  ip -n tvl-behind route add default via 10.213.5.1
  ip -n tvl-garbled route add default via 10.213.6.1
  for router in tvl-r1 tvl-r2 tvl-r3; do
    ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1
  done
  for ns in $namespaces; do icmp_unlimited "$ns"; done
  # Any user of the client may send ICMP echo from a datagram socket.
  ip netns exec tvl-client sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  ip netns exec tvl-silent sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  # Router 2 stays silent about packets to tvl-behind: it drops its time-exceeded answers that
  # quote that destination (the quoted IP header's destination, 24 bytes into the message).
  ip netns exec tvl-r2 nft -f - <<'RULES'
table ip lab {
  chain output {
    type filter hook output priority 0;
    icmp type time-exceeded @th,192,32 0x0ad5050a drop
  }
}
RULES
  start_delay
  start_garble
}

up() {
  set -e
  down
  ip route add blackhole "$block"
  for ns in $namespaces; do
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
    --host-record=a.root-servers.net,198.41.0.4 \
    --host-record=echo.lab.test,10.213.3.10
  routed_chain
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: lab.sh up|down" >&2; exit 2 ;;
esac
