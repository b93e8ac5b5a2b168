#!/bin/bash
# The Debian package as people use it, on this machine, where no one may open an ICMP datagram
# socket (net.ipv4.ping_group_range "1 0", Debian's default, set for the while): installed with
# dpkg, which gives the client cap_net_raw, and the measurement server's and the exporter's units
# (with the exporter's example configuration), not enabled; the server serving a user and the
# exporter measuring for one; the client run as root and as an unprivileged user,
# neither with a registration of their own, reaching the component through the machine's
# registration; the user measuring echo, a hop and latency with it, as with ping, to a host two
# hops away in namespaces of the test's own; the example host program built with pkg-config and
# run by both, the user's failing to send echo (the library raises nothing); a user's own
# registration coming first for that user, and not loaded by the raised client; and nothing
# left once the package is removed, no capability either. Root only.
# Usage: deb_package_test.sh DEB
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
chmod 755 "$work"
range=/proc/sys/net/ipv4/ping_group_range
saved_range=$(cat "$range")
link=/usr/bin/.telvario-package-test-link
net_down() {
  ip netns del tvp-host 2>/dev/null || true
  ip netns del tvp-router 2>/dev/null || true
}
trap 'dpkg -r telvario >/dev/null 2>&1 || true; rm -rf "$work" "$link"; net_down
      printf "%s\n" "$saved_range" >"$range"' EXIT
trap 'exit 130' INT TERM HUP
fail() { echo "deb package: $*" >&2; exit 1; }
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
unset TELVARIO_REGISTRY TELVARIO_MACHINE_REGISTRY TELVARIO_REGISTRY_LAYER XDG_DATA_HOME

# This machine 10.214.1.1 - tvp-router 10.214.1.2 | 10.214.2.1 - tvp-host 10.214.2.10
net_up() {
  ip netns add tvp-router
  ip netns add tvp-host
  ip link add tvp-root type veth peer name tvp-in netns tvp-router
  ip -n tvp-router link add tvp-out type veth peer name tvp-in netns tvp-host
  ip addr add 10.214.1.1/24 dev tvp-root
  ip -n tvp-router addr add 10.214.1.2/24 dev tvp-in
  ip -n tvp-router addr add 10.214.2.1/24 dev tvp-out
  ip -n tvp-host addr add 10.214.2.10/24 dev tvp-in
  ip link set tvp-root up
  ip -n tvp-router link set tvp-in up
  ip -n tvp-router link set tvp-out up
  ip -n tvp-host link set tvp-in up
  ip -n tvp-host route add default via 10.214.2.1
  ip route add 10.214.2.0/24 via 10.214.1.2
  ip netns exec tvp-router sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0
}

rm -f "$link"
net_down  # left by a run that was cut short
dpkg -r telvario >/dev/null 2>&1 || true
printf '1\t0\n' >"$range"
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
[ "$(telvario --version)" = "telvario 1.0.0.4" ] || fail "telvario --version"
[ -f /usr/share/man/man1/telvario.1.gz ] || fail "no man page"
unit=/usr/lib/systemd/system/telvario-serve.service
[ -f "$unit" ] || fail "no systemd unit for the measurement server"
! ls /etc/systemd/system/*/telvario-serve.service >/dev/null 2>&1 ||
  fail "the measurement server's unit was enabled"
exporter_unit=/usr/lib/systemd/system/telvario-exporter.service
[ -f "$exporter_unit" ] && [ -f /usr/share/doc/telvario/examples/exporter.yaml ] ||
  fail "no systemd unit or example configuration for the exporter"
! ls /etc/systemd/system/*/telvario-exporter.service >/dev/null 2>&1 ||
  fail "the exporter's unit was enabled"
grep -q '^ConditionPathExists=/etc/telvario/exporter.yaml$' "$exporter_unit" ||
  fail "the exporter's unit starts without a configuration"
# The installed client serves, as an unprivileged user, on a port the system gives.
coproc server { exec "${nobody[@]}" telvario serve --listen 127.0.0.1:0 2>&1; }
read -r -t 10 line <&"${server[0]}" || true
url=${line##* }
served=$(curl -s --max-time 10 "${url}small" | wc -c)
kill "$server_PID"
wait "$server_PID" || true
[ "$served" = 1 ] || fail "the installed server did not serve: $line"
getcap /usr/bin/telvario | grep -q 'cap_net_raw=ep$' || fail "the client has no cap_net_raw"
# The installed exporter, run by a user outside the ping range, measures loopback through the
# client's capability.
printf 'latency:\n  - target: 127.0.0.1\n    interval: 100ms\n' >"$work/exporter.yaml"
chmod 644 "$work/exporter.yaml"
coproc exporter {
  exec "${nobody[@]}" telvario exporter --listen 127.0.0.1:0 --config "$work/exporter.yaml" 2>&1
}
read -r -t 10 line <&"${exporter[0]}" || true
url=${line##* }
sleep 1.5
replies=$(curl -s --max-time 10 "${url}metrics" |
  sed -n 's/^telvario_echo_replies_total{target="127.0.0.1",family="4"} //p')
kill "$exporter_PID"
wait "$exporter_PID" || true
[ "${replies:-0}" -ge 5 ] || fail "the installed exporter measured nothing for a user: $line"

mkdir -p "$work/root" "$work/user"
chown 65534:65534 "$work/user"
as_root() { env HOME="$work/root" "$@"; }
as_user() { env HOME="$work/user" "${nobody[@]}" "$@"; }
# The user's client, raised by its capability, reads no machine registry the environment names.
for who in as_root "as_user env TELVARIO_MACHINE_REGISTRY=$work/none"; do
  answer=$($who telvario call PacketSize) || fail "$who: telvario call PacketSize failed"
  printf '%s\n' "$answer" | grep -q '^Result *32$' || fail "$who: PacketSize gave $answer"
done

net_up
answer=$(as_user telvario ping 10.214.2.10 --json) || fail "telvario ping as a user: $answer"
printf '%s\n' "$answer" | grep -q '"ReplyIP": "10.214.2.10"' || fail "telvario ping: $answer"
answer=$(as_user telvario trace 10.214.2.10 --hop 1 --json) ||
  fail "telvario trace as a user: $answer"
printf '%s\n' "$answer" | grep -q '"ReplyIP": "10.214.1.2"' || fail "telvario trace: $answer"
answer=$(as_user telvario latency 10.214.2.10 --probes 5 --interval 20 --json) ||
  fail "telvario latency as a user: $answer"
printf '%s\n' "$answer" | grep -q '"Received": 5, "PeerAddress": "10.214.2.10"' ||
  fail "telvario latency: $answer"
net_down

c++ -o "$work/ping_time" /usr/share/doc/telvario/examples/ping_time.cpp \
  $(pkg-config --cflags --libs telvario) || fail "the example does not build with pkg-config"
as_root "$work/ping_time" 127.0.0.1 | grep -q '^PingTime 127.0.0.1 [0-9]' ||
  fail "the example as root"
# A host program raises nothing: an unprivileged user's may not send ICMP here, and the object
# answers with a failed echo.
answer=$(as_user "$work/ping_time" 127.0.0.1 || true)
[ "$answer" = "PingTime 127.0.0.1 -1" ] || fail "the example as an unprivileged user: $answer"

# A user's own registration comes first for that user: of a library since replaced by one that
# ends any process loading it with 42. The example loads it; the raised client, which loads code
# from the installation's library folder only, does not; root's example still finds the
# machine's registration.
lib=/usr/lib/x86_64-linux-gnu
mkdir -p "$work/user/own"
cp /usr/bin/telvario "$lib/libtelvario.so" "$lib/telvario.tlb" "$work/user/own/"
chown -R 65534:65534 "$work/user/own"
as_user "$work/user/own/telvario" register >/dev/null || fail "a user's own registration"
printf '#include <unistd.h>\n[[gnu::constructor]] static void Loaded() { _exit(42); }\n' |
  c++ -shared -fPIC -o "$work/user/own/libtelvario.so" -x c++ -
status=0
as_user "$work/ping_time" 127.0.0.1 >/dev/null 2>&1 || status=$?
[ "$status" = 42 ] || fail "the user's own registration did not come first ($status)"
status=0
as_user telvario call PacketSize >/dev/null 2>&1 || status=$?
[ "$status" = 1 ] || fail "the raised client and the user's registration gave $status"
rm -rf "$work/user/own"
as_root "$work/ping_time" 127.0.0.1 >/dev/null || fail "root lost the machine's registration"

# The capability goes with the package, also from a link to the client that outlives it.
ln /usr/bin/telvario "$link"
dpkg -r telvario >/dev/null || fail "dpkg -r failed"
[ -z "$(getcap "$link")" ] || fail "the client's capability is left after dpkg -r"
for path in /usr/bin/telvario /usr/lib/x86_64-linux-gnu/libtelvario.so \
  /usr/lib/x86_64-linux-gnu/libtelvario-host.a /usr/include/telvario \
  /usr/lib/x86_64-linux-gnu/pkgconfig/telvario.pc /usr/share/doc/telvario /var/lib/telvario \
  /usr/share/man/man1/telvario.1.gz "$unit"; do
  [ ! -e "$path" ] || fail "$path is left after dpkg -r"
done
echo "deb package: installed, used by root and by an unprivileged user (echo, a hop and" \
  "latency too), removed; nothing left"
