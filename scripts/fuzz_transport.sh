#!/usr/bin/env bash
# Builds the libFuzzer target of the received-line cutter with clang in its
# own build directory and runs it from the committed seed corpus.
# Usage: scripts/fuzz_transport.sh [seconds]   (default 60)
# FUZZ_BUILD_DIR overrides the build directory (default build-fuzz).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_rx_lines -j2

# New inputs go to a scratch directory so the committed corpus stays small.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/fuzz/fuzz_rx_lines" -max_total_time="$seconds" -print_final_stats=1 \
  -max_len=4096 -artifact_prefix="$build/" "$work" "$root/fuzz/corpus"
