#!/usr/bin/env bash
# Load test of the SCPI server: the program offscreen with ten simulated boards
# (as in the soak test) and the probe plugin, one client sending 1000 queries
# a second (RATE) for SECONDS (default 60). Reports what the client measured (every
# answer, in order; latency) and what the probe measured inside the program:
# the GUI thread's longest answer time and the resident memory at the start
# and the end of the load. Limits: GUI thread within 50 ms, RSS growth at most 2 MB.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seconds=${1:-60}
cmake --build "$build" --target corvane-studio corvane-sim corvane_soak_probe -j"${JOBS:-2}" >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-load.XXXXXX")
link="$work/dev/ttyCAN0"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

types=(cw precision-cw ps ns soa-ns dcdc cw ps ns precision-cw)
board_args=()
{
  printf '[serial]\nportname=%s\nconnection_mode=true\n[device_conf]\n' "$link"
  for i in "${!types[@]}"; do
    id=$((11 + i)); n=$((i + 1)); board_args+=(--board "${types[$i]}:$id")
    if [ "$i" -eq 0 ]; then printf 'channel_enabled=true\nedit_name=CW\naddr=%s\n' "$id"
    else printf 'channel_%s_enabled=true\nedit_name_%s=%s\naddr_%s=%s\n' "$n" "$n" "${types[$i]}" "$n" "$id"; fi
  done
  printf '[settings]\navailable=1\n'
} > "$work/settings.ini"
"$build/sim/corvane-sim" --link "$link" --quiet --settle-ms 500 "${board_args[@]}" & pids+=($!)
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$build/bench/plugins" \
  QT_QPA_GENERIC_PLUGINS=corvane_soak_probe CORVANE_PROBE_LOG="$work/probe.log" \
  "$build/app/corvane-studio" --port "$link" --remote "$port") > "$work/studio.out" 2>&1 & pids+=($!)
for _ in $(seq 150); do grep -q "serial port is opened SUCCESSFULLY" "$work/probe.log" 2>/dev/null && break; sleep 0.1; done
sleep 5 # the boards found, the panels set up

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
start=$(now_ms)
status=0
python3 "$root/scripts/remote_load.py" "$port" "$seconds" "${RATE:-1000}" || status=1
stop=$(now_ms)
probe() { awk -v a="$start" -v b="$stop" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b' "$work/probe.log"; }
gui_max=$(probe | awk '{ v = $3; sub("max_ms=", "", v); if (v + 0 > m) m = v + 0 } END { print m + 0 }')
rss_first=$(probe | awk 'NR == 3 { v = $5; sub("rss_kb=", "", v); print v + 0 }')
rss_last=$(probe | awk '{ v = $5; sub("rss_kb=", "", v); r = v + 0 } END { print r }')
echo "GUI thread answer: max $gui_max ms (limit 50); RSS ${rss_first} kB at 3 s, ${rss_last} kB at the end"
[ "$gui_max" -le 50 ] || { echo "FAIL: GUI thread answered after $gui_max ms"; status=1; }
[ $((rss_last - rss_first)) -le 2048 ] || { echo "FAIL: RSS grew by $((rss_last - rss_first)) kB"; status=1; }
exit $status
