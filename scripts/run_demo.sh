#!/usr/bin/env bash
# One command from a fresh Debian machine to a live Corvane Studio window:
# installs what is missing, builds, starts the simulated CAN bus with six driver
# boards (one of each type) and the program connected to it.
#
# The program runs in its own demo working directory (build/demo by default,
# DEMO_DIR to change it) with a generated settings.ini, so an operator's own
# settings.ini is never touched. Closing the window stops the simulator.
#
# --bus virtualcan (first argument) puts the boards on Qt's virtual CAN bus
# (virtualcan:can0) instead of a simulated serial adapter; the program then
# connects through its CAN transport. Other arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
demo_dir="${DEMO_DIR:-$build_dir/demo}"

bus=""
if [ "${1:-}" = "--bus" ]; then
  case "${2:-}" in
    virtualcan) bus="virtualcan:can0" ;;
    *) echo "run_demo: --bus takes virtualcan" >&2; exit 2 ;;
  esac
  shift 2
fi

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
# TYPE:CANID:NAME:OPTIONS; the registers (rHH=RAW) are set-points the boards
# remember from an earlier session, which the panels take over at connection.
# (CW: on at 123.4 mA, TEC at 10.5 °C; Precision CW: 1234.57 mA (limit 2000 mA), 10.25 °C; PS: 50.0 V,
# TEC at 12.0 °C; the lower temperature limits at 5 °C; NS, SOA NS: 35.0 V and 20.0 V, TECs at 15.0 °C and
# 20.0 °C; Power DCDC: 2.50 A, output off). Running boards' readings wobble a little around their set-points,
# so the Trends page has something to show; arguments of this script go to the program (--record FILE).
boards=("cw:11:CW:r10=1,r11=1234,r21=1,r12=105,r36=50" "precision-cw:12:Precision CW:r10=1,r11=123457,r25=200000,r21=1,r12=102500,r36=5000"
        "ps:13:PS:r18=500,r21=1,r12=120,r36=50" "ns:14:NS:r18=350,r21=1,r12=150" "soa-ns:15:SOA NS:r18=200,r21=1,r12=200" "dcdc:16:Power DCDC:r11=250")

mkdir -p "$demo_dir"
link="$demo_dir/dev/ttyCAN0" # the serial port library takes a path with /dev/ in it as is
port="${bus:-$link}"

{
  echo "[serial]"
  echo "portname=$port"
  echo "portspeed=115200"
  echo "connection_mode=true"
  echo
  echo "[device_conf]"
  for n in $(seq 1 10); do
    key_enabled="channel_${n}_enabled"; key_name="edit_name_$n"; key_addr="addr_$n"
    if [ "$n" -eq 1 ]; then key_enabled="channel_enabled"; key_name="edit_name"; key_addr="addr"; fi
    if [ "$n" -le "${#boards[@]}" ]; then
      IFS=: read -r _type id name _opts <<<"${boards[$((n - 1))]}"
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

sim_args=(--link "$link")
if [ -n "$bus" ]; then
  # The simulator opens the virtual bus first and so hosts it.
  sim_args+=(--bus "$bus")
fi
for b in "${boards[@]}"; do
  IFS=: read -r type id _name opts <<<"$b"
  sim_args+=(--board "$type:$id${opts:+:$opts}")
done

sim_log="$demo_dir/corvane-sim.log"
QT_LOGGING_RULES="qt.canbus*=false" "$simulator" "${sim_args[@]}" >"$sim_log" 2>&1 &
sim_pid=$!
stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap stop_simulator EXIT

for _ in $(seq 1 50); do
  grep -q "serving" "$sim_log" && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run_demo: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.1
done
echo "run_demo: simulated bus on $port with ${#boards[@]} boards; settings in $demo_dir/settings.ini"

cd "$demo_dir"
status=0
"${runner[@]}" "$program" --port "$port" "$@" || status=$?
exit "$status"
