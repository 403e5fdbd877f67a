#!/usr/bin/env bash
# ORBILANE-NMS-MIB passes smilint (Debian smitools) at level 4 without a single message (smilint
# exits 0 even on errors, so any output fails). The IETF base modules it imports are taken from
# the system where installed (Debian's snmp-mibs-downloader), else from tests/mibs/, which holds
# the part of them the module uses; NET-SNMP-MIB comes with Debian's libsnmp-base. The
# notifications and objects must sit where transports/SnmpTrapTransport.cpp sends them.
#
#   scripts/check-mib.sh [MIB_FILE]      (default: packaging/ORBILANE-NMS-MIB.txt)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-$here/packaging/ORBILANE-NMS-MIB.txt}
if ! command -v smilint >/dev/null; then
  echo "check-mib: smilint is missing (scripts/install-deps.sh installs smitools)" >&2
  exit 77
fi
export SMIPATH="/usr/share/snmp/mibs/ietf:/usr/share/snmp/mibs:$here/tests/mibs"
out=$(smilint -l 4 -s "$mib" 2>&1)
if [[ -n "$out" ]]; then
  echo "check-mib: smilint -l 4 on $mib:" >&2
  echo "$out" >&2
  exit 1
fi

arc=1.3.6.1.4.1.8072.9999.9999.1
expected="elementDown $arc.0.1
elementUp $arc.0.2
elementSilence $arc.0.3
elementAudioBack $arc.0.4
elementMissing $arc.0.5
elementConfigRefused $arc.0.6
elementConfigTimeout $arc.0.7
elementFlapping $arc.0.8
notifierTest $arc.0.9
orbElementName $arc.1.1
orbElementMacAddress $arc.1.2
orbElementAddress $arc.1.3
orbElementRole $arc.1.4
orbElementState $arc.1.5
orbAlarmSeverity $arc.1.6
orbAlarmText $arc.1.7"
found=$(smidump -f identifiers "$mib" 2>/dev/null | awk '$3 == "notification" || $3 == "scalar" { print $2, $4 }')
if [[ "$found" != "$expected" ]]; then
  echo "check-mib: the MIB's numbers are not those the traps are sent with:" >&2
  diff <(echo "$expected") <(echo "$found") >&2 || true
  exit 1
fi
