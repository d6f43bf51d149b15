#!/usr/bin/env bash
# Builds everything with sanitizers in a build directory of its own and runs
# the test suite under them; any sanitizer report fails the run.
#
# Usage: scripts/run_sanitizers.sh [asan|tsan]   (default asan)
#   asan  AddressSanitizer + LeakSanitizer + UndefinedBehaviorSanitizer, whole suite
#   tsan  ThreadSanitizer, the tests that run worker, serial and GUI threads together.
#         Not clean, and not in CI: Qt 5's mutexes and wait conditions are futexes
#         inside the uninstrumented Qt library, so the sanitizer cannot see the
#         ordering of a queued signal and reports each one handed between threads.
# SANITIZE_BUILD_DIR overrides the build directory (default build-asan / build-tsan),
# CXX the compiler (default: the system's c++).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mode=${1:-asan}

case "$mode" in
  asan)
    flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    build=${SANITIZE_BUILD_DIR:-$root/build-asan}
    ;;
  tsan)
    flags="-fsanitize=thread -fno-omit-frame-pointer"
    build=${SANITIZE_BUILD_DIR:-$root/build-tsan}
    ;;
  *)
    echo "usage: $0 [asan|tsan]" >&2
    exit 2
    ;;
esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
# The thread sanitizer run needs only the tests where the worker, serial and
# GUI threads meet.
tsan_tests=(tst_channel tst_transport tst_e2e)
if [ "$mode" = asan ]; then
  cmake --build "$build" -j"${JOBS:-2}"
else
  cmake --build "$build" -j"${JOBS:-2}" --target "${tsan_tests[@]}"
fi

export QT_QPA_PLATFORM=offscreen
# Every report ends the process with a failure status, so the test fails.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:strict_init_order=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp

if [ "$mode" = asan ]; then
  ctest --test-dir "$build" --output-on-failure -j"${JOBS:-2}"
else
  pattern=$(IFS='|'; echo "${tsan_tests[*]}")
  ctest --test-dir "$build" --output-on-failure -j"${JOBS:-2}" -R "^($pattern)\$"
fi
