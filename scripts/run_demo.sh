#!/usr/bin/env bash
# One command from a fresh Debian machine to a running Corvane Studio window:
# installs what is missing, builds, and starts the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install_deps.sh"
BUILD_DIR="$build_dir" bash "$root/scripts/build.sh"

program="$build_dir/app/corvane-studio"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" "$@"
fi
echo "run_demo: no DISPLAY is set, so the window opens on a virtual X server (xvfb-run)"
echo "run_demo: and cannot be seen. Run this script from a desktop session to see it."
echo "run_demo: press Ctrl+C to stop."
exec xvfb-run -a -s "-screen 0 1280x800x24" "$program" "$@"
