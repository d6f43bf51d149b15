#!/usr/bin/env bash
# One command from a fresh Debian machine to a passing test run:
# installs what is missing, builds, and runs every test headless.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install_deps.sh"
BUILD_DIR="$build_dir" bash "$root/scripts/build.sh"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j"${JOBS:-2}"
