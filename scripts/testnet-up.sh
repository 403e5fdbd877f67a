#!/usr/bin/env bash
# Brings up a virtual LAN of network namespaces for the console and simulated elements:
#
#   NAME-br   holds the bridge br0 and the bridge-side end of every veth pair
#   NAME-c    the console host: eth0 02:00:00:00:00:01, 10.77.0.1/24
#   NAME-eI   element host I (1..N): eth0 02:00:00:00:01:II (II in hex), 10.77.0.(10+I)/24
#
# Every host gets lo up and an on-link default route on eth0, without which a send to the
# limited broadcast 255.255.255.255 fails with ENETUNREACH. Nothing is created in the
# caller's namespace, so runs with different NAMEs never collide.
#
# Prints one fact per line on stdout:
#   network NAME
#   bridge NAME-br
#   console NAME-c 10.77.0.1 02:00:00:00:00:01
#   element I NAME-eI 10.77.0.(10+I) 02:00:00:00:01:II
#
# Exit codes: 0 up; 77 not root or no usable `ip netns` (callers treat it as "skip");
# 2 bad arguments or NAME already in use; 1 any other failure (everything made is removed).
set -u

usage() {
  echo "usage: $0 NAME N   (NAME: 1-24 letters, digits or _; N: 1-99 elements)" >&2
  exit 2
}

[ $# -eq 2 ] || usage
name=$1
count=$2
[[ $name =~ ^[A-Za-z0-9_]{1,24}$ ]] || usage
[[ $count =~ ^[0-9]{1,2}$ ]] && [ "$count" -ge 1 ] || usage

here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "testnet-up: network namespaces need root; not running as root" >&2
  exit 77
fi
if ! command -v ip >/dev/null 2>&1; then
  echo "testnet-up: the 'ip' command (iproute2) is not installed" >&2
  exit 77
fi
if ! ip netns list >/dev/null 2>&1; then
  echo "testnet-up: 'ip netns' does not work here" >&2
  exit 77
fi

bridge_ns="$name-br"
console_ns="$name-c"

if ip netns list | awk '{print $1}' | grep -Eq "^$name-(br|c|e[0-9]+)\$"; then
  echo "testnet-up: a network named $name exists already (run testnet-down.sh $name)" >&2
  exit 2
fi

fail() {
  echo "testnet-up: $*" >&2
  "$here/testnet-down.sh" "$name" >/dev/null 2>&1
  exit 1
}

# The first namespace tells whether this environment allows them at all (a container
# without CAP_SYS_ADMIN refuses even root).
if ! err=$(ip netns add "$bridge_ns" 2>&1); then
  echo "testnet-up: cannot create a network namespace: $err" >&2
  "$here/testnet-down.sh" "$name" >/dev/null 2>&1
  exit 77
fi

ip -n "$bridge_ns" link set lo up || fail "lo up in $bridge_ns"
# Without STP a port forwards as soon as it is up: no learning delay for the first paging.
ip -n "$bridge_ns" link add br0 type bridge stp_state 0 forward_delay 0 || fail "bridge in $bridge_ns"
ip -n "$bridge_ns" link set br0 up || fail "bridge up"

# add_host NAMESPACE PORT MAC ADDRESS
add_host() {
  local ns=$1 port=$2 mac=$3 address=$4
  ip netns add "$ns" || fail "namespace $ns"
  ip -n "$bridge_ns" link add "$port" type veth peer name eth0 netns "$ns" address "$mac" \
    || fail "veth pair for $ns"
  # Keep the LAN quiet: no IPv6 autoconfiguration chatter next to the datagrams under test.
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
    >/dev/null 2>&1 || true
  ip -n "$ns" link set lo up || fail "lo up in $ns"
  ip -n "$ns" addr add "$address/24" brd + dev eth0 || fail "address $address in $ns"
  ip -n "$ns" link set eth0 up || fail "eth0 up in $ns"
  ip -n "$ns" route add default dev eth0 || fail "on-link default route in $ns"
  ip -n "$bridge_ns" link set "$port" master br0 || fail "port $port on the bridge"
  ip -n "$bridge_ns" link set "$port" up || fail "port $port up"
}

add_host "$console_ns" c 02:00:00:00:00:01 10.77.0.1
facts=("network $name" "bridge $bridge_ns" "console $console_ns 10.77.0.1 02:00:00:00:00:01")
for ((i = 1; i <= count; i++)); do
  mac=$(printf '02:00:00:00:01:%02x' "$i")
  address="10.77.0.$((10 + i))"
  add_host "$name-e$i" "e$i" "$mac" "$address"
  facts+=("element $i $name-e$i $address $mac")
done

printf '%s\n' "${facts[@]}"
