#!/usr/bin/env bash
# A demonstration LAN for the console: three simulated elements (two encoders, one decoder)
# on a namespace network, until Ctrl+C. Then the simulators it started are stopped and the
# network is removed.
#
#   sudo scripts/testnet-demo.sh [BUILD_DIR]     (default: $NMS_BINARY_DIR, else ./build)
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-${NMS_BINARY_DIR:-$here/../build}}
sim="$build/tools/orbilane-element-sim"
name=demo$$
if [ ! -x "$sim" ]; then
  echo "testnet-demo: no simulator at $sim (build first, or give the build folder)" >&2
  exit 2
fi

logs=$(mktemp -d /tmp/nms-demo-XXXXXX)
pids=()

sleeper=
stop() {
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  "$here/testnet-down.sh" "$name"
  echo "Logs kept in $logs"
  exit 0
}
trap stop INT TERM

"$here/testnet-up.sh" "$name" 3 || { code=$?; "$here/testnet-down.sh" "$name"; exit $code; }

start() {
  local i=$1; shift
  ip netns exec "$name-e$i" "$sim" --log "$logs/e$i.log" "$@" >/dev/null &
  pids+=($!)
}
start 1 --role encoder --name "STUDIO A" --serial 11 --remote 10.77.0.13 --level-dbfs -12
start 2 --role encoder --name "STUDIO B" --serial 12 --remote 10.77.0.13 --level-dbfs -3 --input 1
start 3 --role decoder --name "TX SITE" --serial 21 --remote 10.77.0.11 --atten 230 --type 1

cat <<TEXT

Demo network $name is up; simulator logs in $logs.
Run the console on it (the X server is reached through its socket file):
  ip netns exec $name-c env DISPLAY=\${DISPLAY:-:0} $build/orbilane-nms
Watch an element:  tail -f $logs/e1.log
Press Ctrl+C here to stop the simulators and remove the network.
TEXT
while true; do
  sleep 3600 &
  sleeper=$!
  wait "$sleeper"
done
