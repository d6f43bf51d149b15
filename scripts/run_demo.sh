#!/usr/bin/env bash
# One command from a fresh Debian machine to a live Corvane Studio window:
# installs what is missing, builds, starts the simulated CAN bus with six driver
# boards (one of each type) and the program connected to it.
#
# The program runs in its own demo working directory (build/demo by default,
# DEMO_DIR to change it) with a generated settings.ini, so an operator's own
# settings.ini is never touched. Closing the window stops the simulator.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
demo_dir="${DEMO_DIR:-$build_dir/demo}"

bash "$root/scripts/install_deps.sh"

generator=()
# An existing build tree keeps the generator it was made with.
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  generator=(-G Ninja)
fi
cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"${JOBS:-2}" --target corvane-studio corvane-sim

program="$build_dir/app/corvane-studio"
simulator="$build_dir/sim/corvane-sim"

# A display: the desktop's, or a virtual one when xvfb-run is there.
runner=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null 2>&1; then
    echo "run_demo: no DISPLAY is set: the window opens on a virtual X server (xvfb-run) and"
    echo "run_demo: cannot be seen. Run this script from a desktop session to see it."
    echo "run_demo: press Ctrl+C to stop."
    runner=(xvfb-run -a -s "-screen 0 1280x800x24")
  else
    echo "run_demo: no display (DISPLAY is not set) and xvfb-run is not installed." >&2
    echo "run_demo: run this script from a desktop session, or install xvfb." >&2
    exit 1
  fi
fi

# Board type, CAN ID and channel name of the six simulated boards.
boards=("cw:11:CW" "precision-cw:12:Precision CW" "ps:13:PS" "ns:14:NS" "soa-ns:15:SOA NS" "dcdc:16:Power DCDC")

mkdir -p "$demo_dir"
link="$demo_dir/dev/ttyCAN0" # the serial port library takes a path with /dev/ in it as is

{
  echo "[serial]"
  echo "portname=$link"
  echo "portspeed=115200"
  echo "connection_mode=true"
  echo
  echo "[device_conf]"
  for n in $(seq 1 10); do
    key_enabled="channel_${n}_enabled"; key_name="edit_name_$n"; key_addr="addr_$n"
    if [ "$n" -eq 1 ]; then key_enabled="channel_enabled"; key_name="edit_name"; key_addr="addr"; fi
    if [ "$n" -le "${#boards[@]}" ]; then
      IFS=: read -r _type id name <<<"${boards[$((n - 1))]}"
      echo "$key_enabled=true"; echo "$key_name=$name"; echo "$key_addr=$id"
    else
      echo "$key_enabled=false"; echo "$key_name="; echo "$key_addr=1"
    fi
  done
  echo "mini_usb=false"
  echo
  echo "[settings]"
  echo "available=1"
} >"$demo_dir/settings.ini"

sim_args=(--link "$link" --quiet)
for b in "${boards[@]}"; do
  IFS=: read -r type id _name <<<"$b"
  sim_args+=(--board "$type:$id")
done

"$simulator" "${sim_args[@]}" &
sim_pid=$!
stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap stop_simulator EXIT

for _ in $(seq 1 50); do
  [ -e "$link" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run_demo: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.1
done
echo "run_demo: simulated bus on $link with ${#boards[@]} boards; settings in $demo_dir/settings.ini"

cd "$demo_dir"
status=0
"${runner[@]}" "$program" --port "$link" "$@" || status=$?
exit "$status"
