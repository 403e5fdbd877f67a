#!/usr/bin/env bash
# Configures and builds into build/ (or $NMS_BUILD_DIR). With arguments, builds only those
# targets (the demo needs just the console and the simulator); without, everything.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${NMS_BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
