#!/usr/bin/env bash
# Removes the virtual LAN that testnet-up.sh NAME made: the namespaces NAME-c, NAME-eI (or the
# shared element host NAME-m) and NAME-br, and with them every veth pair and the bridge. Safe to run at any time: whatever is
# already gone is skipped, and names of other networks are never touched.
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

mine=$(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$name-(c|m|e[0-9]+|br)\$")

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
exit $status
