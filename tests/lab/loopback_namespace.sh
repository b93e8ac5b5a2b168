# A namespace of the tests' own with nothing but loopback, and its own name resolution (a hosts
# file, a resolver, an nsswitch.conf under /etc/netns), for ftp_lab.sh and fault_lab.sh to
# source. Root only.

# loopback_namespace_down NAMESPACE: the namespace and its files go.
loopback_namespace_down() {
  ip netns del "$1" 2>/dev/null || true
  rm -rf "/etc/netns/$1"
  rmdir /etc/netns 2>/dev/null || true
}

# loopback_namespace_up NAMESPACE HOSTS_LINE RESOLV_CONF: loopback up, names resolved from the
# hosts line, then by the resolver the text configures.
loopback_namespace_up() {
  ip netns add "$1"
  ip -n "$1" link set lo up
  mkdir -p "/etc/netns/$1"
  printf '%s\n' "$2" >"/etc/netns/$1/hosts"
  printf '%s\n' "$3" >"/etc/netns/$1/resolv.conf"
  printf 'hosts: files dns\n' >"/etc/netns/$1/nsswitch.conf"
}
