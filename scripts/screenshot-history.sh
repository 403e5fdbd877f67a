#!/bin/bash
# The README's picture of the history pane: a simulated day of an encoder drawn by the real pane
# under Xvfb (X11, the desktop's fonts), written to docs/history-pane.png.
# Usage: bash scripts/screenshot-history.sh [BUILD]   (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" -j2 --target tst_trendpane >/dev/null
mkdir -p "$root/docs"
xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb TZ=UTC \
  NMS_SCREENSHOT="$root/docs/history-pane.png" "$build/tests/tst_trendpane" screenshot
echo "written: $root/docs/history-pane.png"
