# Sourced by the shaped-path benchmarks: two namespaces of the script's own, tvb-client
# (10.213.1.1) and tvb-server (10.213.1.2), joined by a veth pair whose sending side towards
# the measured direction is held to 50 Mbit/s by a token bucket. The lab's block is blackholed
# meanwhile, so nothing meant for it leaves this machine. Everything goes again on exit, with
# the server whose pid is in $server_pidfile.
# Usage: shaped_path_up client|server   (the side whose sending is shaped)
block=10.213.0.0/16
server_pidfile=$(mktemp)

shaped_path_down() {
  [ -s "$server_pidfile" ] && kill "$(cat "$server_pidfile")" 2>/dev/null
  rm -f "$server_pidfile"
  ip netns del tvb-client 2>/dev/null || true
  ip netns del tvb-server 2>/dev/null || true
  ip route del blackhole "$block" 2>/dev/null || true
}

shaped_path_up() {
  trap shaped_path_down EXIT
  ip route add blackhole "$block"
  ip netns add tvb-client
  ip netns add tvb-server
  ip link add tvb-c netns tvb-client type veth peer name tvb-s netns tvb-server
  ip -n tvb-client addr add 10.213.1.1/24 dev tvb-c
  ip -n tvb-server addr add 10.213.1.2/24 dev tvb-s
  for ns in tvb-client tvb-server; do ip -n "$ns" link set lo up; done
  ip -n tvb-client link set tvb-c up
  ip -n tvb-server link set tvb-s up
  local device=tvb-s
  [ "$1" = client ] && device=tvb-c
  ip netns exec "tvb-$1" tc qdisc add dev "$device" root tbf rate 50mbit burst 64kb latency 100ms
}
