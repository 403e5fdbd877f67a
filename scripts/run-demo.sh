#!/usr/bin/env bash
# The README's first command: installs what is missing, builds, and opens the console on your
# display against a demo network of simulated elements (two encoders and one decoder) living in
# network namespaces on this machine. The network is taken down when the console closes.
# Without root (namespaces need it) the console opens alone, on the machine's real network.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" orbilane-nms orbilane-element-sim
build=${NMS_BUILD_DIR:-$here/build}

if [[ -z "${DISPLAY:-}" ]]; then
  echo "run-demo: no DISPLAY: the console is a desktop program; run this from a desktop session" >&2
  exit 1
fi

# The demo console keeps its own nms.ini, apart from any real one next to build/orbilane-nms.
demo=$build/demo
mkdir -p "$demo"
cp "$build/orbilane-nms" "$demo/orbilane-nms"

if [[ $(id -u) -ne 0 ]] || ! ip netns list >/dev/null 2>&1; then
  echo "run-demo: not root (network namespaces need it): opening the console on the real network" >&2
  exec "$demo/orbilane-nms"
fi

name=demo$$
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$here/scripts/testnet-down.sh" "$name" >/dev/null 2>&1 || true
}
trap cleanup EXIT INT TERM

"$here/scripts/testnet-up.sh" "$name" 3 >/dev/null
sim=$build/tools/orbilane-element-sim
start_sim() { # namespace, options...
  local ns=$1; shift
  # --control: a FIFO that takes the element off the network or makes it silent, for the alarms.
  ip netns exec "$ns" "$sim" --interface eth0 "$@" --log "$demo/$ns.log" --control "$demo/${ns#"$name"-}.control" \
    >/dev/null &
  sims+=($!)
}
start_sim "$name-e1" --role encoder --name "STUDIO ENC A" --serial 17 --mask 255.255.255.0 --gateway 10.77.0.1 \
  --remote 10.77.0.13 --input 1 --type 1 --tx 0 --level-dbfs -6
start_sim "$name-e2" --role encoder --name "STUDIO ENC B" --serial 18 --mask 255.255.255.0 --gateway 10.77.0.1 \
  --remote 10.77.0.13 --input 0 --type 0 --tx 1 --level-dbfs -20
start_sim "$name-e3" --role decoder --name "TX SITE DEC" --serial 42 --mask 255.255.255.0 --gateway 10.77.0.1 \
  --remote 10.77.0.11 --input 1 --type 1 --tx 0 --atten 235 --feedback-length 41

echo "Demo network $name: console 10.77.0.1; elements 10.77.0.11 (encoder), 10.77.0.12 (encoder), 10.77.0.13 (decoder)."
echo "Click the 'Auto discover...' button (magnifying glass) and answer Yes to list them."
echo "To see an alarm (right-click the window, 'Network status...'): echo down > $demo/e3.control takes the"
echo "decoder off the network (echo up > ... brings it back); echo silent > $demo/e1.control silences an encoder."
# The X server's socket file is reachable from inside the namespace; its abstract socket is not.
ip netns exec "$name-c" env DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
  DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-}" "$demo/orbilane-nms"
