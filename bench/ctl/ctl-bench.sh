#!/usr/bin/env bash
# orbilanectl's figures, printed as tables: `list --json` of 1000 stored elements (wall time of
# the whole program), `discover --no-store` of 1000 simulated elements on the shared-host
# namespace LAN (how long after the 3-second window the program has ended, and how many it
# listed), and `check` of one live decoder (its audio is not checked). Root only: it builds
# namespace LANs with scripts/testnet-up.sh, and every datagram stays inside them.
#
#   bench/ctl/ctl-bench.sh [BUILD_DIR]      (default ./build; NMS_BENCH_RUNS, default 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
runs=${NMS_BENCH_RUNS:-5}
ctl=$build/orbilanectl
sim=$build/tools/orbilane-element-sim
[[ -x $ctl && -x $sim ]] || {
  echo "ctl-bench: build orbilanectl and orbilane-element-sim in $build first" >&2
  exit 2
}
((EUID == 0)) || {
  echo "ctl-bench: needs root for the namespace LAN" >&2
  exit 77
}

work=$(mktemp -d)
shared=ctlb$$
single=ctlc$$
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$here/scripts/testnet-down.sh" "$shared" >/dev/null 2>&1 || true
  "$here/scripts/testnet-down.sh" "$single" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# min / median / max of the numbers on standard input
spread() { sort -n | awk '{v[NR] = $1} END {printf "%s / %s / %s", v[1], v[int((NR + 1) / 2)], v[NR]}'; }

# Starts a simulator in a namespace and waits for its READY line.
start_sim() {
  local ns=$1 log=$2
  shift 2
  ip netns exec "$ns" "$sim" "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 200); do
    grep -q READY "$log" && return 0
    sleep 0.05
  done
  echo "ctl-bench: the simulator in $ns did not start: $(cat "$log")" >&2
  exit 1
}

echo "== orbilanectl ($runs runs each; min / median / max)"

# 1. list --json of 1000 stored elements, no socket.
db=$work/list/nms.ini
mkdir -p "$work/list"
for i in $(seq 1 1000); do
  printf '[0200000%05X]\nNAME=ELEMENT %-8d\nIP=10.77.%d.%d\nMASK=255.255.0.0\nGW=10.77.0.254\nREMOTE=10.77.0.1\n' \
    "$i" "$i" $((1 + (i - 1) / 250)) $((1 + (i - 1) % 250))
  printf 'INPUT=0\nTYPE=1\nTX=0\nROLE=%d\nSN=%d\nATT=255\n' $((1 + i % 2)) $(((i - 1) % 255 + 1))
done >"$db"
times=()
for _ in $(seq 1 "$runs"); do
  start=$(now_ms)
  "$ctl" --database "$db" list --json >"$work/list.json"
  times+=($(($(now_ms) - start)))
done
listed=$(grep -c '"mac"' "$work/list.json")
echo "list --json, 1000 stored elements: $(printf '%s\n' "${times[@]}" | spread) ms wall, $listed listed (target: under 50 ms)"

# 2. discover --no-store of 1000 elements on one shared host.
"$here/scripts/testnet-up.sh" "$shared" 1000 --shared-host >/dev/null
start_sim "$shared-m" "$work/shared.log" --elements 1000 --interface ev --name SIM
touch "$work/empty.ini"
after=()
found=()
for _ in $(seq 1 "$runs"); do
  start=$(now_ms)
  ip netns exec "$shared-c" "$ctl" --database "$work/empty.ini" discover --no-store --json >"$work/found.json" \
    2>"$work/found.err" || true
  after+=($(($(now_ms) - start - 3000)))
  found+=($(grep -c '"new": true' "$work/found.json" || true))
done
[[ -s $work/empty.ini ]] && echo "ctl-bench: discover --no-store changed the database" >&2
echo "discover --no-store, 1000 elements: ended $(printf '%s\n' "${after[@]}" | spread) ms after the 3 s window," \
  "listed $(printf '%s\n' "${found[@]}" | spread) (target: within 500 ms, all 1000)"

# 3. check of one live decoder on a LAN of its own (the shared host answers no echo).
"$here/scripts/testnet-up.sh" "$single" 1 >/dev/null
start_sim "$single-e1" "$work/single.log" --role decoder --name "SITE RX" --serial 12
ip netns exec "$single-c" "$ctl" --database "$work/check/nms.ini" --window-ms 500 discover >/dev/null 2>&1
times=()
statuses=()
for _ in $(seq 1 "$runs"); do
  start=$(now_ms)
  status=0
  ip netns exec "$single-c" "$ctl" --database "$work/check/nms.ini" check "SITE RX" >"$work/check.out" || status=$?
  times+=($(($(now_ms) - start)))
  statuses+=("$status")
done
echo "check of a live decoder: $(printf '%s\n' "${times[@]}" | spread) ms wall, exit statuses ${statuses[*]}" \
  "(target: under 1000 ms, 0)"
echo "  $(cat "$work/check.out")"
