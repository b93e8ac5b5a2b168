#!/bin/bash
# The Debian package as people use it, on this machine: installed with dpkg; the client run as
# root and as an unprivileged user, neither with a registration of their own, reaching the
# component through the machine's registration; the example host program built with pkg-config
# and run by both; a user's own registration coming first for that user; and nothing left once
# the package is removed. Root only. Usage: deb_package_test.sh DEB
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
chmod 755 "$work"
trap 'dpkg -r telvario >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "deb package: $*" >&2; exit 1; }
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
unset TELVARIO_REGISTRY TELVARIO_MACHINE_REGISTRY TELVARIO_REGISTRY_LAYER XDG_DATA_HOME

dpkg -r telvario >/dev/null 2>&1 || true  # left by a run that was cut short
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
[ "$(telvario --version)" = "telvario 1.0.0.4" ] || fail "telvario --version"
[ -f /usr/share/man/man1/telvario.1.gz ] || fail "no man page"

mkdir -p "$work/root" "$work/user"
chown 65534:65534 "$work/user"
as_root() { env HOME="$work/root" "$@"; }
as_user() { env HOME="$work/user" "${nobody[@]}" "$@"; }
for who in as_root as_user; do
  answer=$($who telvario call PacketSize) || fail "$who: telvario call PacketSize failed"
  printf '%s\n' "$answer" | grep -q '^Result *32$' || fail "$who: PacketSize gave $answer"
done

c++ -o "$work/ping_time" /usr/share/doc/telvario/examples/ping_time.cpp \
  $(pkg-config --cflags --libs telvario) || fail "the example does not build with pkg-config"
as_root "$work/ping_time" 127.0.0.1 | grep -q '^PingTime 127.0.0.1 [0-9]' ||
  fail "the example as root"
# An unprivileged user may not send ICMP here: the object answers, with a failed echo.
answer=$(as_user "$work/ping_time" 127.0.0.1 || true)
printf '%s\n' "$answer" | grep -q '^PingTime 127.0.0.1 ' ||
  fail "the example as an unprivileged user: $answer"

# A user's own registration comes first for that user: one of a library since removed, and
# the example finds no object there while root's still does.
lib=/usr/lib/x86_64-linux-gnu
mkdir -p "$work/user/own"
cp /usr/bin/telvario "$lib/libtelvario.so" "$lib/telvario.tlb" "$work/user/own/"
chown -R 65534:65534 "$work/user/own"
as_user "$work/user/own/telvario" register >/dev/null || fail "a user's own registration"
rm -rf "$work/user/own"
if as_user "$work/ping_time" 127.0.0.1 >/dev/null 2>&1; then
  fail "the user's own registration did not come first"
fi
as_root "$work/ping_time" 127.0.0.1 >/dev/null || fail "root lost the machine's registration"

dpkg -r telvario >/dev/null || fail "dpkg -r failed"
for path in /usr/bin/telvario /usr/lib/x86_64-linux-gnu/libtelvario.so \
  /usr/lib/x86_64-linux-gnu/libtelvario-host.a /usr/include/telvario \
  /usr/lib/x86_64-linux-gnu/pkgconfig/telvario.pc /usr/share/doc/telvario /var/lib/telvario \
  /usr/share/man/man1/telvario.1.gz; do
  [ ! -e "$path" ] || fail "$path is left after dpkg -r"
done
echo "deb package: installed, used by root and by an unprivileged user, removed; nothing left"
