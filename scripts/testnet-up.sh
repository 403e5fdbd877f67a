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
# With --shared-host (for networks of many elements) the elements share one host instead:
#
#   NAME-m    one element host: eth0 on the bridge without an address, and macvlan interfaces
#             ev1..evN on it, evI with MAC 02:00:00:01:HH:LL (I in hex) and address
#             10.77.(1 + (I-1)/250).(1 + (I-1)%250)/16; N may then be up to 2000
#   NAME-c    the console as above, with the prefix /16
#
# and prints "element I NAME-m ADDRESS MAC evI" per element. The element host answers ARP for
# an address only on the interface holding it, so every element keeps its own MAC. Run one
# `orbilane-element-sim --elements N --interface ev` there to play them all.
#
# More options, in any order after N:
#   --second-lan K        a second LAN on its own bridge br1 (in NAME-br): the console gets eth1
#                         02:00:00:00:00:03, 10.78.0.1/24, and K (1..99) element hosts NAME-fJ
#                         with eth0 02:00:00:00:02:JJ, 10.78.0.(10+J)/24. Their elements are
#                         numbered after the first LAN's, and the console's interfaces are listed:
#                           console-if eth0 10.77.0.1 02:00:00:00:00:01
#                           console-if eth1 10.78.0.1 02:00:00:00:00:03
#                           element N+J NAME-fJ 10.78.0.(10+J) 02:00:00:00:02:JJ
#   --no-default-route    no host gets a default route, only the routes of its own subnets:
#                         the limited broadcast then leaves only where a sender names the interface
#   --default-route-via IF  the console's on-link default route goes on IF (eth0, the default, or
#                         eth1 with --second-lan) and nowhere else
#
# The kernel's neighbour thresholds (net.ipv4.neigh.default.gc_thresh1/2/3) count the entries of
# every namespace together: an element host learns the console, the console every element. While
# networks made by this script are up, the thresholds are at least E + 128, 2E + 512 and 4E + 1024
# for E elements in all of them (never lowered); the last testnet-down.sh puts back what they
# were. The bookkeeping lives in /run/orbilane-testnet: NAME.facts (this output) per network up,
# and the original values.
#
# Exit codes: 0 up; 77 not root or no usable `ip netns` (callers treat it as "skip");
# 2 bad arguments or NAME already in use; 1 any other failure (everything made is removed).
set -u

usage() {
  echo "usage: $0 NAME N [--shared-host] [--second-lan K] [--no-default-route | --default-route-via eth0|eth1]" >&2
  echo "  (NAME: 1-24 letters, digits or _; N: 1-99 elements, 1-2000 with --shared-host; K: 1-99)" >&2
  exit 2
}

[ $# -ge 2 ] || usage
name=$1
count=$2
shift 2
shared=0
second=0
route_via=eth0 # empty: no default route anywhere
route_set=0
while [ $# -gt 0 ]; do
  case $1 in
    --shared-host) shared=1 ;;
    --second-lan)
      [ $# -ge 2 ] && [[ $2 =~ ^[0-9]{1,2}$ ]] && [ "$2" -ge 1 ] || usage
      second=$2
      shift
      ;;
    --no-default-route)
      [ $route_set -eq 0 ] || usage
      route_via= route_set=1
      ;;
    --default-route-via)
      [ $route_set -eq 0 ] && [ $# -ge 2 ] && [[ $2 =~ ^eth[01]$ ]] || usage
      route_via=$2 route_set=1
      shift
      ;;
    *) usage ;;
  esac
  shift
done
[[ $name =~ ^[A-Za-z0-9_]{1,24}$ ]] || usage
if [ $shared -eq 1 ]; then
  [[ $count =~ ^[0-9]{1,4}$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 2000 ] || usage
else
  [[ $count =~ ^[0-9]{1,2}$ ]] && [ "$count" -ge 1 ] || usage
fi
[ "$route_via" != eth1 ] || [ "$second" -gt 0 ] || usage

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

if ip netns list | awk '{print $1}' | grep -Eq "^$name-(br|c|m|[ef][0-9]+)\$"; then
  echo "testnet-up: a network named $name exists already (run testnet-down.sh $name)" >&2
  exit 2
fi

fail() {
  echo "testnet-up: $*" >&2
  exec 9>&- # the threshold lock, should it be held: testnet-down.sh takes it too
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
for bridge in br0 $([ "$second" -gt 0 ] && echo br1); do
  ip -n "$bridge_ns" link add "$bridge" type bridge stp_state 0 forward_delay 0 || fail "$bridge in $bridge_ns"
  ip -n "$bridge_ns" link set "$bridge" up || fail "$bridge up"
done

# add_link NAMESPACE PORT IFNAME MAC ADDRESS PREFIX BRIDGE: a veth from BRIDGE into the host.
add_link() {
  local ns=$1 port=$2 ifname=$3 mac=$4 address=$5 prefix=$6 bridge=$7
  ip -n "$bridge_ns" link add "$port" type veth peer name "$ifname" netns "$ns" address "$mac" \
    || fail "veth pair for $ns"
  ip -n "$ns" addr add "$address/$prefix" brd + dev "$ifname" || fail "address $address in $ns"
  ip -n "$ns" link set "$ifname" up || fail "$ifname up in $ns"
  ip -n "$bridge_ns" link set "$port" master "$bridge" || fail "port $port on $bridge"
  ip -n "$bridge_ns" link set "$port" up || fail "port $port up"
}

# add_host NAMESPACE PORT MAC ADDRESS PREFIX BRIDGE DEFAULT_ROUTE(1|0): a host with eth0.
add_host() {
  local ns=$1
  ip netns add "$ns" || fail "namespace $ns"
  # Keep the LAN quiet: no IPv6 autoconfiguration chatter next to the datagrams under test.
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
    >/dev/null 2>&1 || true
  ip -n "$ns" link set lo up || fail "lo up in $ns"
  add_link "$ns" "$2" eth0 "$3" "$4" "$5" "$6"
  if [ "$7" -eq 1 ]; then
    ip -n "$ns" route add default dev eth0 || fail "on-link default route in $ns"
  fi
}

element_route=$([ -n "$route_via" ] && echo 1 || echo 0)
prefix=$([ $shared -eq 1 ] && echo 16 || echo 24)
add_host "$console_ns" c 02:00:00:00:00:01 10.77.0.1 "$prefix" br0 0
facts=("network $name" "bridge $bridge_ns" "console $console_ns 10.77.0.1 02:00:00:00:00:01")
if [ "$second" -gt 0 ]; then
  add_link "$console_ns" c1 eth1 02:00:00:00:00:03 10.78.0.1 24 br1
  facts+=("console-if eth0 10.77.0.1 02:00:00:00:00:01" "console-if eth1 10.78.0.1 02:00:00:00:00:03")
fi
if [ -n "$route_via" ]; then
  ip -n "$console_ns" route add default dev "$route_via" || fail "on-link default route in $console_ns"
fi

if [ $shared -eq 1 ]; then
  host_ns="$name-m"
  ip netns add "$host_ns" || fail "namespace $host_ns"
  ip -n "$bridge_ns" link add mhost type veth peer name eth0 netns "$host_ns" address 02:00:00:00:00:02 \
    || fail "veth pair for $host_ns"
  ip netns exec "$host_ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
    net.ipv4.conf.all.arp_ignore=1 net.ipv4.conf.default.arp_ignore=1 \
    net.ipv4.conf.all.arp_announce=2 net.ipv4.conf.default.arp_announce=2 \
    net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 >/dev/null 2>&1 \
    || fail "ARP settings in $host_ns"
  # The bridge side first, so that eth0 has carrier by the time the macvlans come up: an
  # interface that opens with carrier can send at once, one that gets carrier later waits for
  # the kernel's link watch, which takes 100 interfaces a second (1000 elements: 9 s half deaf).
  ip -n "$bridge_ns" link set mhost master br0 || fail "port mhost on the bridge"
  ip -n "$bridge_ns" link set mhost up || fail "port mhost up"
  # Mode private: an element's own broadcasts (its ARP request for the console) go out to the
  # LAN only. In bridge mode each one is also copied to every other macvlan, which at 1000
  # elements cost half a millisecond of kernel time per answer. A broadcast from the LAN still
  # reaches every element, through a queue that must hold one per element when the console
  # asks for all of their MACs at once.
  # No prefix routes: N routes to the same /16, one per macvlan, made every answer's route
  # lookup walk all of them (a third of the simulator's time at 2000 elements). A socket bound
  # to its interface needs none: the kernel takes its destination as on-link.
  batch=$(mktemp) || fail "temporary file"
  {
    echo "link set lo up"
    echo "link set eth0 up"
    for ((i = 1; i <= count; i++)); do
      printf -v mac '02:00:00:01:%02x:%02x' $((i / 256)) $((i % 256))
      address="10.77.$((1 + (i - 1) / 250)).$((1 + (i - 1) % 250))"
      echo "link add link eth0 name ev$i address $mac type macvlan mode private bcqueuelen $((count + 1000))"
      echo "addr add $address/16 dev ev$i noprefixroute"
      echo "link set ev$i up"
      facts+=("element $i $host_ns $address $mac ev$i")
    done
  } >"$batch"
  ip -n "$host_ns" -batch "$batch" || { rm -f "$batch"; fail "element interfaces in $host_ns"; }
  rm -f "$batch"
  # The kernel's own answers (ICMP echo) need a route back to the console; the simulator's
  # sockets, bound to their interfaces, need none. One host route through the first element's
  # interface serves every element.
  ip -n "$host_ns" route add 10.77.0.1/32 dev ev1 || fail "route to the console in $host_ns"
  # Should the kernel still defer some of them (see above), "up" must not mean "half deaf".
  for ((try = 0; try < 200; try++)); do
    [ "$(ip -n "$host_ns" -o link show up | grep -c 'state UP')" -gt "$count" ] && break
    sleep 0.1
  done
  [ $try -lt 200 ] || fail "the element interfaces in $host_ns did not come up"
else
  for ((i = 1; i <= count; i++)); do
    printf -v mac '02:00:00:00:01:%02x' "$i"
    address="10.77.0.$((10 + i))"
    add_host "$name-e$i" "e$i" "$mac" "$address" 24 br0 "$element_route"
    facts+=("element $i $name-e$i $address $mac")
  done
fi
for ((j = 1; j <= second; j++)); do
  printf -v mac '02:00:00:00:02:%02x' "$j"
  address="10.78.0.$((10 + j))"
  add_host "$name-f$j" "f$j" "$mac" "$address" 24 br1 "$element_route"
  facts+=("element $((count + j)) $name-f$j $address $mac")
done

# Neighbour thresholds, under a lock shared with testnet-down.sh and other runs of this script.
state=/run/orbilane-testnet
mkdir -p "$state" || fail "cannot make $state"
exec 9>"$state/lock" && flock 9 || fail "cannot lock $state/lock"
# A network whose namespaces are gone (a run that crashed, removed by hand) needs no room.
for file in "$state"/*.facts; do
  [ -e "$file" ] || continue
  other=$(basename "$file" .facts)
  ip netns list | awk '{print $1}' | grep -Eq "^$other-(br|c|m|[ef][0-9]+)\$" || rm -f "$file"
done
printf '%s\n' "${facts[@]}" >"$state/$name.facts" || fail "cannot write $state/$name.facts"
total=$(cat "$state"/*.facts | grep -c '^element ')
# The values are global and only the machine's own namespace shows them: from any other, ask
# there (as process 1 sees them).
knob() {
  if [ -e /proc/sys/net/ipv4/neigh/default/gc_thresh1 ]; then sysctl "$@"; else nsenter --net=/proc/1/ns/net sysctl "$@"; fi
}
need=($((total + 128)) $((2 * total + 512)) $((4 * total + 1024)))
if now=($(knob -n net.ipv4.neigh.default.gc_thresh{1,2,3} 2>/dev/null)) && [ ${#now[@]} -eq 3 ]; then
  [ -e "$state/thresholds" ] || echo "${now[*]}" >"$state/thresholds" || fail "cannot save the neighbour thresholds"
  # Highest first, so that gc_thresh1 <= gc_thresh2 <= gc_thresh3 holds at every step.
  for k in 3 2 1; do
    if [ "${now[k - 1]}" -lt "${need[k - 1]}" ] && ! knob -qw "net.ipv4.neigh.default.gc_thresh$k=${need[k - 1]}" 2>/dev/null; then
      echo "testnet-up: cannot raise gc_thresh$k to ${need[k - 1]}: with many elements answers may be lost" >&2
    fi
  done
else
  echo "testnet-up: the neighbour thresholds are out of sight from here; not raised to ${need[*]}" >&2
fi
exec 9>&-

printf '%s\n' "${facts[@]}"
