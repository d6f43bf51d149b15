#!/usr/bin/env bash
# Runs the view refresh benchmark (ten live channel panels, offscreen) a few
# times and prints the median of each run's median tick cost.
# Usage: scripts/bench_channel.sh [runs]   (default 5)
# BENCH_BUILD_DIR overrides the build directory (default build).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build}
runs=${1:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench_view_update -j2 >/dev/null

out=$(mktemp)
trap 'rm -f "$out"' EXIT
for _ in $(seq "$runs"); do
  QT_QPA_PLATFORM=offscreen "$build/bench/bench_view_update" 2>/dev/null | tee -a "$out"
done
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
for case in unchanged changing; do
  echo "median tick, $case readings: $(grep "^$case " "$out" | awk '{print $3}' | median) us" \
       "(with the paint pass: $(grep "^$case " "$out" | awk '{print $7}' | median) us)"
done
