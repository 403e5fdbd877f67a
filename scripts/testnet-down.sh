#!/usr/bin/env bash
# Removes the virtual LAN that testnet-up.sh NAME made: the namespaces NAME-c, NAME-eI (or the
# shared element host NAME-m), NAME-fJ of a second LAN and NAME-br, and with them every veth pair
# and both bridges. Safe to run at any time: whatever is already gone is skipped, and names of
# other networks are never touched.
#
# It also drops NAME's entry in /run/orbilane-testnet; once no network made by testnet-up.sh is
# left, the kernel's neighbour thresholds get back the values they had before the first one.
#
# Processes still running inside the namespaces are not killed (stop them first, by PID);
# they are listed on stderr and keep their now unnamed namespace until they exit.
set -u

if [ $# -ne 1 ] || ! [[ $1 =~ ^[A-Za-z0-9_]{1,24}$ ]]; then
  echo "usage: $0 NAME   (as given to testnet-up.sh)" >&2
  exit 2
fi
name=$1

if [ "$(id -u)" -ne 0 ]; then
  echo "testnet-down: network namespaces need root; not running as root" >&2
  exit 77
fi
command -v ip >/dev/null 2>&1 || exit 0

mine=$(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$name-(c|m|[ef][0-9]+|br)\$")

status=0
# Hosts first, the bridge last: deleting the bridge namespace also destroys the bridge-side
# veth ends, which takes their peers with them.
for ns in $(printf '%s\n' $mine | grep -v -- '-br$') $(printf '%s\n' $mine | grep -- '-br$'); do
  pids=$(ip netns pids "$ns" 2>/dev/null | tr '\n' ' ')
  [ -n "$pids" ] && echo "testnet-down: still running in $ns: $pids" >&2
  if ! ip netns del "$ns" 2>/dev/null; then
    # Someone else may have removed it in the meantime: only a survivor is a failure.
    if ip netns list 2>/dev/null | awk '{print $1}' | grep -qx -- "$ns"; then
      echo "testnet-down: cannot remove $ns" >&2
      status=1
    fi
  fi
done

state=/run/orbilane-testnet
if [ -d "$state" ] && exec 9>"$state/lock" && flock 9; then
  rm -f "$state/$name.facts"
  # Networks whose namespaces are gone (a run that crashed) no longer count.
  for file in "$state"/*.facts; do
    [ -e "$file" ] || continue
    other=$(basename "$file" .facts)
    ip netns list | awk '{print $1}' | grep -Eq "^$other-(br|c|m|[ef][0-9]+)\$" || rm -f "$file"
  done
  if ! ls "$state"/*.facts >/dev/null 2>&1 && [ -e "$state/thresholds" ]; then
    read -r -a was <"$state/thresholds"
    knob() {
      if [ -e /proc/sys/net/ipv4/neigh/default/gc_thresh1 ]; then sysctl "$@"; else nsenter --net=/proc/1/ns/net sysctl "$@"; fi
    }
    # Lowest first, so that gc_thresh1 <= gc_thresh2 <= gc_thresh3 holds at every step.
    if [ ${#was[@]} -eq 3 ] && knob -qw net.ipv4.neigh.default.gc_thresh1="${was[0]}" \
      net.ipv4.neigh.default.gc_thresh2="${was[1]}" net.ipv4.neigh.default.gc_thresh3="${was[2]}"; then
      rm -f "$state/thresholds"
    else
      echo "testnet-down: cannot restore the neighbour thresholds ${was[*]} (kept in $state/thresholds)" >&2
      status=1
    fi
  fi
  exec 9>&-
fi
exit $status
