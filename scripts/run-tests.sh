#!/usr/bin/env bash
# The README's second command: installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build=${NMS_BUILD_DIR:-$here/build}
export DBUS_SESSION_BUS_ADDRESS=disabled:
cd "$build"
# Most tests spend their time waiting for a short period or a network answer, not computing
# (about half a core's worth over the whole run): three at a time per core halves the wall time
# of two per machine. The flood measures a timer's lateness and still runs alone.
ctest --output-on-failure -j"$(($(nproc) * 3))" "$@"
