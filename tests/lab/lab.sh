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
# and 10.213.8.0/24 beyond router 3, which it holds unreachable: it answers every packet for
# 10.213.8.10 as it arrives, whatever its time to live, with a host unreachable (IPv6: no route
# to the destination). Its filter answers, not its routes: the kernel spaces its own unreachable
# answers to a host a second apart after the ICMP it sent that host lately.
# and beside it a jittery path of one router:
#   tvl-client 10.213.20.1 - tvl-rj 10.213.20.2 | 10.213.7.1 - tvl-jitter 10.213.7.10
# Every link of the chain and of the jittery path carries IPv6 too, unique-local addresses that
# mirror the IPv4 ones: 10.213.N.M/24 is fd13:213:0:N::M/64 (tvl-host fd13:213:0:3::10,
# tvl-jitter fd13:213:0:7::10, the routers fd13:213:0:10::2, fd13:213:0:11::2, fd13:213:0:12::2,
# tvl-rj fd13:213:0:20::2). The link between client and name server is IPv4 only.
# Router 1 holds every packet that enters or leaves it for 20 ms (delay_queue.cpp), so every
# round trip through it takes about 40 ms; IPv6's neighbour discovery and multicast, like ARP,
# pass at once. For both families, tvl-silent ignores echo requests and router 2 sends no
# time-exceeded answers for packets to tvl-behind. Router 3's time-exceeded answers for packets
# to tvl-garbled quote a garbled header (garble_queue.cpp): an identifier and sequence number
# nobody sent; IPv4 only, its IPv6 answers are plain.
# The jittery path: tvl-rj holds every packet that enters or leaves it (passing what router 1
# passes) for a time drawn for each packet on its own from a normal distribution of mean 20 ms
# and standard deviation 2.5 ms (a draw below 0 would hold for 0; 8 deviations out, it never
# comes), so a round trip to tvl-jitter or to tvl-rj takes 40 ms on average with a standard
# deviation of 3.5 ms (2.5 ms times the square root of 2), and packets may overtake one another.
# Of the packets that reach tvl-rj from the client 5% are dropped, each on its own draw, none on
# the way back: 5% of the echo requests get no reply. The draws are seeded, so the same probes
# meet the same fate on every run.
# tvl-host serves HTTP on 10.213.3.10:8080 (tests/http_test_server.py): GET /bytes/N, and POST
# bodies taken and discarded.
# Names of lab.test: host.lab.test 10.213.2.10 and fd13:213:0:2::10 (no host has them) with
# reverse records, echo.lab.test tvl-host's addresses, jitter.lab.test tvl-jitter's, r1.lab.test,
# r2.lab.test and r3.lab.test the routers' addresses towards the client, with reverse records;
# nodata.lab.test exists without address records; every other name of lab.test does not exist.
# The lab's blocks, 10.213.0.0/16 and fd13:213::/48, are blackholed in the root namespace, so
# nothing meant for the lab can leave this machine from outside it.
# TELVARIO_LAB_PREFIX (tvl unless set) names the namespaces (PREFIX-client ...) and the files
# under /run, so that a second lab can run beside the tests' own: each holds the same addresses
# in its own namespaces, and the blackholes stay while any namespace holds a lab address.
# Root only. Usage: lab.sh up|down
set -u
p=${TELVARIO_LAB_PREFIX:-tvl}
if [[ ! $p =~ ^[a-z0-9]{1,8}$ ]]; then
  echo "lab.sh: TELVARIO_LAB_PREFIX must be 1 to 8 lower-case letters or digits" >&2
  exit 2
fi
run=/run/telvario-lab  # pidfiles $run-NAME.pid, programs under $run/
if [ "$p" != tvl ]; then run=/run/telvario-lab-$p; fi
daemons="dnsmasq delay garble jitter-ahead jitter-back http"
block=10.213.0.0/16
block6=fd13:213::/48
here=$(cd "$(dirname "$0")" && pwd)
names="client dns nodns r1 r2 r3 host silent behind garbled rj jitter"

# inside NAME COMMAND...: the command in the lab's namespace NAME.
inside() {
  ip netns exec "$p-$1" "${@:2}"
}

# Whether any namespace, of this lab or another, still holds an address of the lab's block.
block_in_use() {
  local ns
  for ns in $(ip netns list | cut -d' ' -f1); do
    if [ -n "$(ip -n "$ns" -4 addr show to "$block" 2>/dev/null)" ]; then return 0; fi
  done
  return 1
}

down() {
  local name
  for name in $daemons; do
    if [ -s "$run-$name.pid" ]; then kill "$(cat "$run-$name.pid")" 2>/dev/null || true; fi
    rm -f "$run-$name.pid"
  done
  rm -rf "$run"
  for name in $names; do
    ip netns del "$p-$name" 2>/dev/null || true
    rm -rf "/etc/netns/$p-$name"
  done
  rmdir /etc/netns 2>/dev/null || true
  if ! block_in_use; then
    ip route del blackhole "$block" 2>/dev/null || true
    ip -6 route del blackhole "$block6" 2>/dev/null || true
  fi
}

# A name resolution setup for a lab host: its own hosts file and resolver, nothing else.
resolver() {
  mkdir -p "/etc/netns/$p-$1"
  printf '127.0.0.1 localhost\n' >"/etc/netns/$p-$1/hosts"
  printf 'nameserver %s\noptions timeout:1 attempts:1\n' "$2" >"/etc/netns/$p-$1/resolv.conf"
  printf 'hosts: files dns\n' >"/etc/netns/$p-$1/nsswitch.conf"
}

# The IPv6 twin of a lab address, net or route destination: 10.213.N.M[/24] is
# fd13:213:0:N::M[/64], the block is the IPv6 block, default stays default.
six() {
  local address=$1 length='' n m
  case $1 in
    default) echo default; return ;;
    "$block") echo "$block6"; return ;;
    */24) address=${1%/24} length=/64 ;;
  esac
  IFS=. read -r _ _ n m <<<"$address"
  echo "fd13:213:0:$n::$m$length"
}

# address NAME DEV ADDR: the IPv4 address (with /24) and its IPv6 twin on a device, which comes up.
address() {
  ip -n "$p-$1" addr add "$3" dev "$2"
  ip -n "$p-$1" addr add "$(six "$3")" dev "$2"
  ip -n "$p-$1" link set "$2" up
}

# A link between two namespaces: link NAME1 DEV1 ADDR1 NAME2 DEV2 ADDR2 (addresses with /24).
link() {
  ip link add "$2" netns "$p-$1" mtu 9000 type veth peer name "$5" netns "$p-$4" mtu 9000
  address "$1" "$2" "$3"
  address "$4" "$5" "$6"
}

# route NAME DESTINATION GATEWAY: the route and its IPv6 twin.
route() {
  ip -n "$p-$1" route add "$2" via "$3"
  ip -n "$p-$1" -6 route add "$(six "$2")" via "$(six "$3")"
}

# A lab host's settings before it has links: IPv6 addresses usable at once (nobody else on a
# lab link could hold them), and no rate limit on the ICMP messages it sends, so that routers
# and hosts answer every probe.
settings() {
  inside "$1" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
  inside "$1" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0
  inside "$1" sysctl -qw net.ipv4.icmp_msgs_per_sec=1000000 2>/dev/null || true
  inside "$1" sysctl -qw net.ipv4.icmp_msgs_burst=1000000 2>/dev/null || true
}

router() {
  inside "$1" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
}

# A queue program of the lab, built here from its source.
build() {
  mkdir -p "$run"
  g++ -std=c++20 -O2 -o "$run/$1" "$here/$1.cpp" -lnetfilter_queue
}

# daemon NAME LABHOST COMMAND...: a lab process in the background, its pid in the lab's pidfile.
daemon() {
  ip netns exec "$p-$2" "${@:3}" </dev/null >/dev/null 2>&1 &
  echo $! >"$run-$1.pid"
}

# A delaying router lets IPv6's own traffic of the link by (neighbour discovery, and what goes
# to multicast groups: router solicitations, listener reports), as ARP never reaches its queues:
# no neighbour waits on the delay, and the random draws go to the probes alone.
spare_link_traffic() {
  local chain type
  for chain in PREROUTING OUTPUT; do
    for type in neighbour-solicitation neighbour-advertisement; do
      inside "$1" ip6tables -t mangle -A "$chain" -p ipv6-icmp --icmpv6-type "$type" -j RETURN
    done
    inside "$1" ip6tables -t mangle -A "$chain" -d ff00::/8 -j RETURN
  done
}

# queue NAME QUEUE CHAIN [MATCH...]: both families' packets of the mangle chain that match go to
# the queue.
queue() {
  inside "$1" iptables -t mangle -A "$3" "${@:4}" -j NFQUEUE --queue-num "$2"
  inside "$1" ip6tables -t mangle -A "$3" "${@:4}" -j NFQUEUE --queue-num "$2"
}

# The delay element of router 1.
start_delay() {
  spare_link_traffic r1
  queue r1 0 PREROUTING
  queue r1 0 OUTPUT
  daemon delay r1 "$run/delay_queue" 0 20
}

# The jittery path's element: what comes from the client (tvl-rja) is also lost at times.
start_jitter() {
  spare_link_traffic rj
  queue rj 0 PREROUTING -i tvl-rja
  queue rj 1 PREROUTING ! -i tvl-rja
  queue rj 1 OUTPUT
  daemon jitter-ahead rj "$run/delay_queue" 0 20 --sd 2.5 --loss 5 --seed 1
  daemon jitter-back rj "$run/delay_queue" 1 20 --sd 2.5 --seed 2
}

# Router 3's garbling element, for its time-exceeded answers about tvl-garbled (the quoted
# destination, 24 bytes into the message).
start_garble() {
  # Marked by nft, which can match the quoted destination, and queued by iptables, since this
  # kernel queues only through iptables' NFQUEUE target.
  inside r3 nft -f - <<'RULES'
table ip lab {
  chain output {
    type filter hook output priority -200;
    icmp type time-exceeded @th,192,32 0x0ad5060a meta mark set 0x7
  }
}
RULES
  inside r3 iptables -t mangle -A OUTPUT -m mark --mark 0x7 -j NFQUEUE --queue-num 1
  daemon garble r3 "$run/garble_queue" 1
}

routed_chain() {
  link client tvl-c1 10.213.10.1/24 r1 tvl-r1a 10.213.10.2/24
  link r1 tvl-r1b 10.213.11.1/24 r2 tvl-r2a 10.213.11.2/24
  link r2 tvl-r2b 10.213.12.1/24 r3 tvl-r3a 10.213.12.2/24
  link r3 tvl-r3h 10.213.3.1/24 host tvl-h 10.213.3.10/24
  link r3 tvl-r3s 10.213.4.1/24 silent tvl-s 10.213.4.10/24
  link r3 tvl-r3b 10.213.5.1/24 behind tvl-b 10.213.5.10/24
  link r3 tvl-r3g 10.213.6.1/24 garbled tvl-g 10.213.6.10/24
  route client "$block" 10.213.10.2
  route r1 default 10.213.11.2
  route r2 10.213.10.0/24 10.213.11.1
  route r2 default 10.213.12.2
  route r3 default 10.213.12.1
  route host default 10.213.3.1
  route silent default 10.213.4.1
  route behind default 10.213.5.1
  route garbled default 10.213.6.1
  inside r3 nft -f - <<'RULES'
table inet unreachable {
  chain prerouting {
    type filter hook prerouting priority 0;
    ip daddr 10.213.8.0/24 reject with icmp type host-unreachable
    ip6 daddr fd13:213:0:8::/64 reject with icmpv6 type no-route
  }
}
RULES
  for name in r1 r2 r3; do router "$name"; done
  # Any user of the client may send ICMP echo from a datagram socket (the range serves IPv6's
  # too).
  inside client sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  inside silent sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1
  # Router 2 stays silent about packets to tvl-behind: it drops its time-exceeded answers that
  # quote that destination (the quoted IP header's destination, 24 bytes into an ICMP message,
  # 32 into an ICMPv6 one).
  inside r2 nft -f - <<'RULES'
table inet lab {
  chain output {
    type filter hook output priority 0;
    icmp type time-exceeded @th,192,32 0x0ad5050a drop
    icmpv6 type time-exceeded @th,256,128 0xfd130213000000050000000000000010 drop
  }
}
RULES
  start_delay
  start_garble
}

jittery_path() {
  link client tvl-c2 10.213.20.1/24 rj tvl-rja 10.213.20.2/24
  link rj tvl-rjb 10.213.7.1/24 jitter tvl-j 10.213.7.10/24
  route client 10.213.7.0/24 10.213.20.2
  route jitter default 10.213.7.1
  router rj
  start_jitter
}

up() {
  set -e
  down
  ip route replace blackhole "$block"
  ip -6 route replace blackhole "$block6"
  for name in $names; do
    ip netns add "$p-$name"
    ip -n "$p-$name" link set lo up
    settings "$name"
  done
  ip link add tvl-c netns "$p-client" type veth peer name tvl-d netns "$p-dns"
  ip -n "$p-client" addr add 10.213.2.1/24 dev tvl-c
  ip -n "$p-dns" addr add 10.213.2.2/24 dev tvl-d
  ip -n "$p-client" link set tvl-c up
  ip -n "$p-dns" link set tvl-d up
  resolver client 10.213.2.2
  resolver nodns 127.0.0.1

  # The component's check host resolves to its expected address.
  inside dns dnsmasq --no-resolv --no-hosts --no-poll --bind-interfaces \
    --listen-address=10.213.2.2 --except-interface=lo --pid-file="$run-dnsmasq.pid" --user=root \
    --local=/lab.test/ --local=/2.213.10.in-addr.arpa/ \
    --host-record=host.lab.test,10.213.2.10,fd13:213:0:2::10 \
    --txt-record=nodata.lab.test,"no address here" \
    --host-record=a.root-servers.net,198.41.0.4 \
    --host-record=echo.lab.test,10.213.3.10,fd13:213:0:3::10 \
    --host-record=jitter.lab.test,10.213.7.10,fd13:213:0:7::10 \
    --host-record=r1.lab.test,10.213.10.2,fd13:213:0:10::2 \
    --host-record=r2.lab.test,10.213.11.2,fd13:213:0:11::2 \
    --host-record=r3.lab.test,10.213.12.2,fd13:213:0:12::2
  build delay_queue
  build garble_queue
  routed_chain
  jittery_path
  # Downloads and uploads across the 40 ms path (tests/http_test_server.py, which detaches).
  inside host python3 "$here/../http_test_server.py" --host 10.213.3.10 --port 8080 \
    --pidfile "$run-http.pid"
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: lab.sh up|down" >&2; exit 2 ;;
esac
