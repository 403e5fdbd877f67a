#!/usr/bin/env bash
# Builds and runs the benchmarks: the micro benchmarks (Google Benchmark), then, as root, the
# system benchmarks on a namespace LAN of 1000 simulated elements. Prints every table.
#
#   scripts/run-benchmarks.sh            # everything
#   NMS_BENCH_RUNS=5 scripts/run-benchmarks.sh
#
# Environment: NMS_BENCH_BUILD_DIR (default build-bench beside the sources), NMS_BENCH_RUNS
# (runs per system figure, default 3), NMS_BENCH_SECONDS (length of one CPU measurement,
# default 10), NMS_BENCH_MICRO_ARGS (extra arguments for the micro benchmarks, e.g.
# --benchmark_filter=LoadConfig), NMS_BENCH_SKIP_SYSTEM=1 (micro benchmarks only),
# NMS_BENCH_ONLY (one system table: memory, discovery, latency, cpu, watch or service),
# NMS_BENCH_WATCH_SECONDS (one measurement of the monitor and of the service at 1,000 elements,
# default 300), NMS_BENCH_HISTORY_MINUTES (minutes of 1,000 elements written for the history's
# growth, default 240; 1440 writes a whole day), NMS_BENCH_SKIP_NOTIFY=1 (no notifier
# benchmark), NMS_BENCH_NOTIFY_ARGS (e.g. --only storm).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${NMS_BENCH_BUILD_DIR:-$here/build-bench}
runs=${NMS_BENCH_RUNS:-3}
seconds=${NMS_BENCH_SECONDS:-10}
jobs=$(nproc)
((jobs > 2)) && jobs=2

NMS_EXTRA_PACKAGES="libbenchmark-dev ${NMS_EXTRA_PACKAGES:-}" "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DNMS_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$jobs" --target nms_micro_bench nms_trends_bench nms_system_bench nms_notify_bench orbilane-element-sim orbilanectl orbilane-watch

echo "== machine"
echo "$(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "memory: $(free -m | awk '/^Mem:/ {print $2}') MiB; kernel $(uname -r); load: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== micro benchmarks (median of 5 repetitions)"
export QT_QPA_PLATFORM=offscreen
# shellcheck disable=SC2086
"$build/bench/nms_micro_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 ${NMS_BENCH_MICRO_ARGS:-} 2>&1 | grep -E '^(Benchmark|-|BM_.*_median|Load)'

echo "== the history (a simulated day written into trends.sqlite, a week drawn, orbilanectl history)"
"$build/bench/nms_trends_bench" --minutes "${NMS_BENCH_HISTORY_MINUTES:-240}" --runs 5 --ctl "$build/orbilanectl" 2>&1 \
  | grep -v -e 'does not support' -e XDG_RUNTIME_DIR
# The notifiers under load: real receivers on loopback, no root needed. About 2 minutes.
if [[ "${NMS_BENCH_SKIP_NOTIFY:-0}" != 1 ]]; then
  echo "== notifiers (1,000 elements dropping at once; 10,000 messages waiting)"
  # shellcheck disable=SC2086
  "$build/bench/nms_notify_bench" --runs "$runs" ${NMS_BENCH_NOTIFY_ARGS:-} 2>&1 | grep -v XDG_RUNTIME_DIR
fi

if [[ "${NMS_BENCH_SKIP_SYSTEM:-0}" == 1 ]]; then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "== system benchmarks skipped: they build a namespace LAN and need root"
  exit 0
fi

net="bench$$"
# The console is measured on Debian's default socket buffer limit, whatever this machine is set
# to: a discovery's burst of answers must fit what an ordinary desktop grants.
rmem_max=$(sysctl -n net.core.rmem_max)
cleanup() {
  "$here/scripts/testnet-down.sh" "$net" >/dev/null 2>&1 || true
  sysctl -qw net.core.rmem_max="$rmem_max" || true
}
trap cleanup EXIT
sysctl -qw net.core.rmem_max=212992
echo "== system benchmarks (network $net: 1000 elements on one shared host)"
"$here/scripts/testnet-up.sh" "$net" 1000 --shared-host >/dev/null
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
ip netns exec "$net-c" "$build/bench/nms_system_bench" --network "$net" \
  --simulator "$build/tools/orbilane-element-sim" --runs "$runs" --seconds "$seconds" \
  --watch-seconds "${NMS_BENCH_WATCH_SECONDS:-300}" --watch-program "$build/orbilane-watch" ${NMS_BENCH_ONLY:+--only "$NMS_BENCH_ONLY"} 2>&1 \
  | grep -v -e 'does not support' -e XDG_RUNTIME_DIR
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
"$here/bench/ctl/ctl-bench.sh" "$build"
