# shellcheck shell=bash
# Sourced by the routed-path benchmarks: three namespaces of the bench's own, NAME-c (the
# client), NAME-r (a router) and NAME-s (the server), in a chain
#   NAME-c 10.213.N.1 - NAME-r 10.213.N.2 | 10.213.M.1 - NAME-s 10.213.M.10      (M = N + 1)
# with IPv6 unique-local twins beside them (10.213.N.H is fd13:213:0:N::H). Delay and shaping
# go on the router, never on a sender's own interface, where TCP small queues would throttle
# the sender itself. The lab's blocks are blackholed in the root namespace meanwhile (as the
# test lab does, and kept while any namespace still holds a lab address), so nothing meant for
# them leaves this machine. path_down takes everything away again, with the processes whose
# pidfiles are in $path_state. A bench that builds a longer chain of its own adds its sides to
# $path_sides, and delays at each router with path_delay_rules and path_delay_at.
# Usage: path_up NAME N; then path_delay, path_shape, in_ns ...
path_state=$(mktemp -d)
path_name=
path_sides="c r s"
block=10.213.0.0/16
block6=fd13:213::/48

in_ns() { ip netns exec "$path_name-$1" "${@:2}"; }

# The IPv6 twin of 10.213.N.H.
six() {
  local n h
  IFS=. read -r _ _ n h <<<"$1"
  echo "fd13:213:0:$n::$h"
}

# Whether any namespace still holds an address of the lab's block (the test lab's or a bench's).
block_in_use() {
  local ns
  for ns in $(ip netns list | cut -d' ' -f1); do
    [ -n "$(ip -n "$ns" -4 addr show to "$block" 2>/dev/null)" ] && return 0
  done
  return 1
}

path_down() {
  set +e  # everything goes, whatever fails on the way
  local pidfile side
  for pidfile in "$path_state"/*.pid; do
    if [ -s "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
  done
  if [ -n "$path_name" ]; then
    for side in $path_sides; do ip netns del "$path_name-$side" 2>/dev/null || true; done
  fi
  if ! block_in_use; then
    ip route del blackhole "$block" 2>/dev/null || true
    ip -6 route del blackhole "$block6" 2>/dev/null || true
  fi
  rm -rf "$path_state"
}

# address SIDE DEVICE 10.213.N.H: the address, its twin, and the device up.
address() {
  ip -n "$path_name-$1" addr add "$3/24" dev "$2"
  ip -n "$path_name-$1" addr add "$(six "$3")/64" dev "$2"
  ip -n "$path_name-$1" link set "$2" up
}

# route SIDE 10.213.X.0 VIA: the route to that /24 and its IPv6 twin.
route() {
  ip -n "$path_name-$1" route add "$2/24" via "$3"
  ip -n "$path_name-$1" -6 route add "$(six "$2")/64" via "$(six "$3")"
}

path_up() {
  path_name=$1
  local n=$2 m=$(($2 + 1)) side
  trap path_down EXIT
  trap 'exit 130' INT TERM
  ip route replace blackhole "$block"
  ip -6 route replace blackhole "$block6"
  for side in c r s; do
    ip netns add "$path_name-$side"
    ip -n "$path_name-$side" link set lo up
    # IPv6 addresses usable at once, every echo answered.
    in_ns "$side" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 \
      net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0 net.ipv4.icmp_msgs_per_sec=1000000
  done
  path_cubic
  ip link add tvb-cr netns "$path_name-c" type veth peer name tvb-rc netns "$path_name-r"
  ip link add tvb-rs netns "$path_name-r" type veth peer name tvb-sr netns "$path_name-s"
  address c tvb-cr "10.213.$n.1"
  address r tvb-rc "10.213.$n.2"
  address r tvb-rs "10.213.$m.1"
  address s tvb-sr "10.213.$m.10"
  route c "10.213.$m.0" "10.213.$n.2"
  route s "10.213.$n.0" "10.213.$m.1"
  in_ns r sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  # Any user of the client may send echo requests from a datagram socket, as ping does.
  in_ns c sysctl -qw net.ipv4.ping_group_range="0 2147483647"
}

# Cubic on every side, whatever the machine's default (often BBR). A namespace other than the
# first may only take an algorithm the machine allows everyone, so cubic is allowed for the
# moment it takes to set, and the list is as it was again at once.
path_cubic() {
  local allowed side
  allowed=$(sysctl -n net.ipv4.tcp_allowed_congestion_control)
  [[ " $allowed " == *" cubic "* ]] ||
    sysctl -qw net.ipv4.tcp_allowed_congestion_control="$allowed cubic"
  for side in c r s; do
    in_ns "$side" sysctl -qw net.ipv4.tcp_congestion_control=cubic || break
  done
  sysctl -qw net.ipv4.tcp_allowed_congestion_control="$allowed"
  [ "$(in_ns c sysctl -n net.ipv4.tcp_congestion_control)" = cubic ] &&
    [ "$(in_ns s sysctl -n net.ipv4.tcp_congestion_control)" = cubic ]
}

# A process in a namespace in the background, its pid kept for path_down: daemon NAME SIDE CMD...
# (ip netns exec itself, which becomes the command: the pid is the process's own).
daemon() {
  ip netns exec "$path_name-$2" "${@:3}" </dev/null >/dev/null 2>&1 &
  echo $! >"$path_state/$1.pid"
}

stop_daemon() {
  [ -s "$path_state/$1.pid" ] || return 0
  kill "$(cat "$path_state/$1.pid")" 2>/dev/null || true
  while kill -0 "$(cat "$path_state/$1.pid")" 2>/dev/null; do sleep 0.05; done
  rm -f "$path_state/$1.pid"
}

# path_delay_rules [SIDE DEVICE]: what enters the router SIDE (r unless given) from the client's
# side, through DEVICE (tvb-rc unless given), goes to its first queue, everything else it
# forwards or sends to the second, in both families; IPv6's own link traffic (neighbour
# discovery, multicast) passes at once, as ARP does. Each router's queues are its namespace's own.
path_delay_rules() {
  local side=${1:-r} device=${2:-tvb-rc} tables chain type
  for chain in PREROUTING OUTPUT; do
    for type in neighbour-solicitation neighbour-advertisement; do
      in_ns "$side" ip6tables -t mangle -A "$chain" -p ipv6-icmp --icmpv6-type "$type" -j RETURN
    done
    in_ns "$side" ip6tables -t mangle -A "$chain" -d ff00::/8 -j RETURN
  done
  for tables in iptables ip6tables; do
    in_ns "$side" "$tables" -t mangle -A PREROUTING -i "$device" -j NFQUEUE --queue-num 0
    in_ns "$side" "$tables" -t mangle -A PREROUTING ! -i "$device" -j NFQUEUE --queue-num 1
    in_ns "$side" "$tables" -t mangle -A OUTPUT -j NFQUEUE --queue-num 1
  done
  [ -x "$path_state/bin/delay_queue" ] && return 0
  mkdir -p "$path_state/bin"
  g++ -std=c++20 -O2 -o "$path_state/bin/delay_queue" tests/lab/delay_queue.cpp -lnetfilter_queue
}

# path_delay AHEAD_ARGS -- BACK_ARGS: (re)starts the router's two delay elements (the test lab's
# delay_queue), towards the server with the first arguments and towards the client with the
# second, e.g. path_delay 20 --loss 5 -- 20. Restarted, they draw the same fates again.
path_delay() { path_delay_at r "$@"; }

# path_delay_at SIDE AHEAD_ARGS -- BACK_ARGS: the same at the router SIDE.
path_delay_at() {
  local side=$1 ahead=() arg
  shift
  while [ "$1" != -- ]; do ahead+=("$1"); shift; done
  shift
  stop_daemon "delay-ahead-$side"
  stop_daemon "delay-back-$side"
  daemon "delay-ahead-$side" "$side" "$path_state/bin/delay_queue" 0 "${ahead[@]}"
  daemon "delay-back-$side" "$side" "$path_state/bin/delay_queue" 1 "$@"
  sleep 0.2  # bound to their queues before anything is sent
  for arg in "delay-ahead-$side" "delay-back-$side"; do kill -0 "$(cat "$path_state/$arg.pid")"; done
}

path_no_delay() {
  stop_daemon delay-ahead-r
  stop_daemon delay-back-r
  local tables
  for tables in iptables ip6tables; do in_ns r "$tables" -t mangle -F; done
}

# path_shape RATE: the router sends no faster than RATE either way (a token bucket as the
# existing 50 Mbit/s benches use); path_shape none takes it away.
path_shape() {
  local device
  for device in tvb-rc tvb-rs; do
    in_ns r tc qdisc del dev "$device" root 2>/dev/null || true
    [ "$1" = none ] || in_ns r tc qdisc add dev "$device" root tbf rate "$1" burst 64kb latency 100ms
  done
}
