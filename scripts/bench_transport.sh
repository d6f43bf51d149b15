#!/usr/bin/env bash
# Runs the transport benchmark a few times and prints the median of each figure,
# with Qt's default (glib) event dispatcher and with QT_NO_GLIB=1, which makes
# waking the GUI thread for each queued frame much cheaper.
# Usage: scripts/bench_transport.sh [runs]   (default 5)
# BENCH_BUILD_DIR overrides the build directory (default build).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build}
runs=${1:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench_transport -j2 >/dev/null

out=$(mktemp)
nog=$(mktemp)
trap 'rm -f "$out" "$nog"' EXIT
for _ in $(seq "$runs"); do
  "$build/bench/bench_transport" 2>/dev/null | tee -a "$out"
  QT_NO_GLIB=1 "$build/bench/bench_transport" 2>/dev/null | sed 's/^/QT_NO_GLIB=1 /' | tee -a "$nog"
done
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
echo "median cutter: $(grep '^cutter:' "$out" | awk '{print $2}' | median) million lines/s"
echo "median serial thread to GUI slot: $(grep '^serial' "$out" | awk '{print $6}' | median) frames/s"
echo "median serial thread to GUI slot, QT_NO_GLIB=1: $(grep 'serial' "$nog" | awk '{print $7}' | median) frames/s"
