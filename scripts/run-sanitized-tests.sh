#!/usr/bin/env bash
# The whole test suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer into
# a second build folder (build-asan/, or $NMS_ASAN_BUILD_DIR). Any sanitizer report ends the test
# that made it with a failure, so one report fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build=${NMS_ASAN_BUILD_DIR:-$here/build-asan}
jobs=${NMS_JOBS:-$(nproc)}

# Optimised as the product is (-O2 -g): the suite's timing windows (the 50 ms level queries, the
# 3 s reply timer) must still be met with the sanitizers' checks on every access.
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNMS_SANITIZE=ON \
  -UCMAKE_CXX_FLAGS_RELWITHDEBINFO >/dev/null
# Everything the tests run: the test executables, the console itself and the simulator.
cmake --build "$build" -j"$jobs"

export DBUS_SESSION_BUS_ADDRESS=disabled:
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:exitcode=86:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0:exitcode=86"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"
cd "$build"
ctest --output-on-failure -j"$jobs" --timeout 600 "$@"
