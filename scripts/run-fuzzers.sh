#!/usr/bin/env bash
# Builds the three libFuzzer targets with clang into build-fuzz/ (or $NMS_FUZZ_BUILD_DIR) and runs
# each for a bounded time ($NMS_FUZZ_SECONDS, 60 by default) over its seed corpus in
# fuzz/corpus/<target>/ and its kept regression inputs in fuzz/regressions/<target>/. New inputs go
# to a scratch folder, never into the repository. Any crash, leak, timeout or sanitizer report
# fails the run; the input that caused it is left in the build folder's artifacts/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
NMS_EXTRA_PACKAGES="clang libclang-rt-14-dev ${NMS_EXTRA_PACKAGES:-}" "$here/scripts/install-deps.sh"
build=${NMS_FUZZ_BUILD_DIR:-$here/build-fuzz}
jobs=${NMS_JOBS:-$(nproc)}
seconds=${NMS_FUZZ_SECONDS:-60}
targets=(datagram profile conversions)

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNMS_FUZZERS=ON -DNMS_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -fno-omit-frame-pointer" >/dev/null
cmake --build "$build" -j"$jobs" $(printf -- '--target fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
artifacts="$build/artifacts"
mkdir -p "$artifacts"
failed=()
for target in "${targets[@]}"; do
  scratch=$(mktemp -d)
  inputs=("$here/fuzz/corpus/$target")
  [[ -d "$here/fuzz/regressions/$target" ]] && inputs+=("$here/fuzz/regressions/$target")
  echo "== fuzz_$target: ${seconds}s over ${inputs[*]#"$here/"}"
  start=$SECONDS
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
       "$scratch" "${inputs[@]}" >"$artifacts/$target.log" 2>&1; then
    echo "   passed in $((SECONDS - start)) s: $(grep -E 'stat::number_of_executed_units' "$artifacts/$target.log" | awk '{print $2}') inputs run"
  else
    echo "   FAILED after $((SECONDS - start)) s; last lines of $artifacts/$target.log:"
    tail -n 40 "$artifacts/$target.log"
    failed+=("$target")
  fi
  rm -rf "$scratch"
done
if ((${#failed[@]})); then
  echo "fuzzing: ${#targets[@]} targets, ${#failed[@]} failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets passed"
