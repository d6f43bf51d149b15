#!/usr/bin/env bash
# Screenshot of the Trends page with ten channels on a 1920x1080 screen:
# ten simulated boards, the program on a virtual X server for SECONDS
# (default 120), then the whole screen saved as PNG (default
# docs/screenshot-trends.png). Needs xvfb-run and ImageMagick's import.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
seconds="${1:-120}"
out="$(realpath -m "${2:-$root/docs/screenshot-trends.png}")"
work="$(mktemp -d)"
trap 'kill "${sim_pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT

boards=("cw:11:CW bench 1:r10=1,r11=1234,r21=1,r12=105,r36=50" "cw:12:CW bench 2:r10=1,r11=800,r21=1,r12=200,r36=50"
        "precision-cw:13:Precision CW:r10=1,r11=123457,r25=200000,r21=1,r12=101748,r36=5000"
        "ps:14:PS:r18=500,r21=1,r12=120,r36=50" "ns:15:NS:r18=350,r21=1,r12=150" "soa-ns:16:SOA NS:r18=200,r21=1,r12=200"
        "dcdc:17:Power DCDC:r10=1,r11=247" "cw:18:Diode 18 life test, rack B, long name that does not fit:r10=1,r11=500,r21=1,r12=250,r36=50"
        "ns:19:NS 2:r18=300,r21=1,r12=180" "dcdc:20:Power DCDC 2:r10=1,r11=1000")
link="$work/dev/ttyCAN0"
mkdir -p "$work/dev"
{
  echo "[serial]"; echo "portname=$link"; echo "portspeed=115200"; echo "connection_mode=true"; echo
  echo "[device_conf]"
  for n in $(seq 1 10); do
    k="_$n"; [ "$n" -eq 1 ] && k=""
    IFS=: read -r _type id name _opts <<<"${boards[$((n - 1))]}"
    echo "channel${k}_enabled=true"; echo "edit_name${k}=$name"; echo "addr${k}=$id"
  done
  echo "mini_usb=false"; echo; echo "[settings]"; echo "available=1"
} >"$work/settings.ini"
sim_args=(--link "$link")
for b in "${boards[@]}"; do
  IFS=: read -r type id _name opts <<<"$b"
  sim_args+=(--board "$type:$id:$opts")
done
"$build_dir/sim/corvane-sim" "${sim_args[@]}" >"$work/sim.log" 2>&1 &
sim_pid=$!
sleep 1
cd "$work"
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c "
  '$build_dir/app/corvane-studio' -style Fusion -qwindowgeometry 1920x1080+0+0 --port '$link' --trends --record rec/ >'$work/studio.log' 2>&1 &
  pid=\$!
  sleep '$seconds'
  import -window root '$out'
  kill -TERM \$pid; sleep 1; kill -TERM \$pid 2>/dev/null; wait \$pid || true"
echo "trends_screenshot: $out"
