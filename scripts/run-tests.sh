#!/usr/bin/env bash
# The README's second command: installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build=${NMS_BUILD_DIR:-$here/build}
export DBUS_SESSION_BUS_ADDRESS=disabled:
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
