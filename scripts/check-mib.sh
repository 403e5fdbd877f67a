#!/usr/bin/env bash
# ORBILANE-NMS-MIB passes smilint (Debian smitools) at level 4 without a single message (smilint
# exits 0 even on errors, so any output fails). The IETF base modules it imports are taken from
# the system where installed (Debian's snmp-mibs-downloader), else from tests/mibs/, which holds
# the part of them the module uses; NET-SNMP-MIB comes with Debian's libsnmp-base.
#
#   scripts/check-mib.sh [MIB_FILE]      (default: packaging/ORBILANE-NMS-MIB.txt)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-$here/packaging/ORBILANE-NMS-MIB.txt}
if ! command -v smilint >/dev/null; then
  echo "check-mib: smilint is missing (scripts/install-deps.sh installs smitools)" >&2
  exit 77
fi
out=$(SMIPATH="/usr/share/snmp/mibs/ietf:/usr/share/snmp/mibs:$here/tests/mibs" smilint -l 4 -s "$mib" 2>&1)
if [[ -n "$out" ]]; then
  echo "check-mib: smilint -l 4 on $mib:" >&2
  echo "$out" >&2
  exit 1
fi
