#!/usr/bin/env bash
# Configures and builds everything (program, simulator, tests).
# BUILD_DIR (default: build) and JOBS (default: 2) may be set from outside.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

generator=()
# An existing build tree keeps the generator it was made with.
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  generator=(-G Ninja)
fi
cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j"${JOBS:-2}"
