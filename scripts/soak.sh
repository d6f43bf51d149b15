#!/usr/bin/env bash
# Soak test: corvane-studio in auto connection against the simulated bus with
# ten boards of mixed types, while every 30 s the simulator unplugs and comes
# back, sends garbage and malformed lines, floods valid replies, and lets one
# board fall silent and return. The program runs offscreen with a probe plugin
# (bench/soak_probe.cpp) that reports how long the GUI thread takes
# to answer, the frame counter and the resident memory once a second.
#
# Usage: scripts/soak.sh [minutes]   (default 10)
# SOAK_BUILD_DIR overrides the build directory (default build); SOAK_KEEP=1
# keeps the working directory with the logs.
#
# Fails (exit 1) unless: the program never dies; the GUI thread always answers
# within 200 ms; it reconnects within 3 s of every return of the port; the
# frame counter rises in every cycle; its RSS at the end exceeds the RSS after
# the first 2 minutes (half the run for runs shorter than 4 minutes) by at most 5 MB.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SOAK_BUILD_DIR:-$root/build}
minutes=${1:-10}
cycle_s=30
max_gui_ms=200
max_reconnect_ms=3000
max_rss_growth_kb=5120

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build=$(cd "$build" && pwd)
cmake --build "$build" --target corvane-studio corvane-sim corvane_soak_probe -j"${JOBS:-2}" >/dev/null

# The logs live in memory when the machine has /dev/shm: on a disk the
# kernel's write-back throttling (after a large build) can hold a log write,
# and with it the thread that logs, for seconds; that is the machine, not the
# program under test.
log_dir=${TMPDIR:-/tmp}
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && log_dir=/dev/shm
work=$(mktemp -d "$log_dir/corvane-soak.XXXXXX")
link="$work/dev/ttyCAN0"
fifo="$work/control"
sim_pid=""
studio_pid=""
cleanup() {
  [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ "${SOAK_KEEP:-0}" = 1 ]; then echo "soak: logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
stamp() { local line; while IFS= read -r line; do printf '%s %s\n' "$(now_ms)" "$line"; done; }
sim_cmd() { printf '%s\n' "$*" > "$fifo"; printf '%s cmd: %s\n' "$(now_ms)" "$*" >> "$work/commands.log"; }

# Ten boards, every type, CAN IDs 11..20.
types=(cw precision-cw ps ns soa-ns dcdc cw ps ns precision-cw)
ids=(11 12 13 14 15 16 17 18 19 20)
board_args=()
for i in "${!ids[@]}"; do board_args+=(--board "${types[$i]}:${ids[$i]}"); done

"$build/sim/corvane-sim" --link "$link" --control "$fifo" --settle-ms 500 "${board_args[@]}" \
  > >(stamp > "$work/sim.log") 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -p "$fifo" ] && [ -e "$link" ] && break; sleep 0.1; done
[ -p "$fifo" ] && [ -e "$link" ] || { echo "soak: the simulator did not start"; cat "$work/sim.log"; exit 1; }

{
  echo "[serial]"
  echo "portname=$link"
  echo "portspeed=115200"
  echo "connection_mode=true"
  echo "[device_conf]"
  for i in "${!ids[@]}"; do
    n=$((i + 1))
    if [ "$i" -eq 0 ]; then
      printf 'channel_enabled=true\nedit_name=%s %s\naddr=%s\n' "${types[$i]}" "${ids[$i]}" "${ids[$i]}"
    else
      printf 'channel_%s_enabled=true\nedit_name_%s=%s %s\naddr_%s=%s\n' "$n" "$n" "${types[$i]}" "${ids[$i]}" "$n" "${ids[$i]}"
    fi
  done
  echo "mini_usb=false"
  echo "[settings]"
  echo "available=1"
} > "$work/settings.ini"

(
  cd "$work"
  exec env QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$build/bench/plugins" \
    QT_QPA_GENERIC_PLUGINS=corvane_soak_probe CORVANE_PROBE_LOG="$work/probe.log" \
    "$build/app/corvane-studio" --port "$link" --report-frames
) > "$work/studio.out" 2>&1 &
studio_pid=$!

alive() { kill -0 "$studio_pid" 2>/dev/null; }

for _ in $(seq 150); do
  grep -q "serial port is opened SUCCESSFULLY" "$work/probe.log" 2>/dev/null && break
  alive || break
  sleep 0.1
done
if ! grep -q "serial port is opened SUCCESSFULLY" "$work/probe.log" 2>/dev/null; then
  echo "soak: the program did not connect within 15 s"
  tail -20 "$work/studio.out" "$work/probe.log" 2>/dev/null || true
  exit 1
fi

start=$(now_ms)
end=$((start + minutes * 60000))
cycles=$(( (minutes * 60 + cycle_s - 1) / cycle_s ))
echo "soak: $minutes min, $cycles cycles of $cycle_s s, ten boards (${types[*]}), logs in $work"

died=0
frames_at() { awk -v t="$1" '$3 ~ /^max_ms=/ && $1 <= t { f = $4 } END { sub("frames=", "", f); print f + 0 }' "$work/probe.log"; }
sleep_until() { local t=$1; while [ "$(now_ms)" -lt "$t" ]; do alive || return 1; sleep 0.2; done; }

: > "$work/cycles.log"
for c in $(seq 0 $((cycles - 1))); do
  c0=$((start + c * cycle_s * 1000))
  silent_id=${ids[$((c % ${#ids[@]}))]}
  sleep_until "$c0" || { died=1; break; }
  sim_cmd unplug 2000
  sleep_until $((c0 + 6000)) || { died=1; break; }
  sim_cmd garbage 4000
  sleep_until $((c0 + 9000)) || { died=1; break; }
  for id in "${ids[@]}"; do sim_cmd burst "$id" 300; done
  sleep_until $((c0 + 12000)) || { died=1; break; }
  sim_cmd silent "$silent_id" 1
  sleep_until $((c0 + 20000)) || { died=1; break; }
  sim_cmd silent "$silent_id" 0
  cycle_end=$((c0 + cycle_s * 1000))
  [ "$cycle_end" -gt "$end" ] && cycle_end=$end
  sleep_until "$cycle_end" || { died=1; break; }
  f0=$(frames_at "$c0"); f1=$(frames_at "$cycle_end")
  echo "$c $f0 $f1" >> "$work/cycles.log"
  printf 'soak: cycle %2d  frames %8s -> %8s  max GUI answer %s ms\n' "$((c + 1))" "$f0" "$f1" \
    "$(awk -v a="$c0" -v b="$cycle_end" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b { v = $3; sub("max_ms=", "", v); if (v + 0 > m) m = v + 0 } END { print m + 0 }' "$work/probe.log")"
done
stop=$(now_ms)

# Orderly close as from the desktop: SIGTERM closes the window.
exit_status="died during the run"
if [ "$died" = 0 ] && alive; then
  kill -TERM "$studio_pid"
  exit_status="did not stop within 20 s of SIGTERM"
  for _ in $(seq 200); do alive || break; sleep 0.1; done
  if ! alive; then
    set +e; wait "$studio_pid"; rc=$?; set -e
    exit_status="exit status $rc"
  fi
fi
studio_pid=""
sim_cmd quit || true

# Figures.
gui_max=$(awk -v a="$start" -v b="$stop" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b { v = $3; sub("max_ms=", "", v); if (v + 0 > m) m = v + 0 } END { print m + 0 }' "$work/probe.log")
probe_lines=$(awk -v a="$start" -v b="$stop" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b' "$work/probe.log" | wc -l)
probe_gap=$(awk -v a="$start" -v b="$stop" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b { if (p && $1 - p > g) g = $1 - p; p = $1 } END { print g + 0 }' "$work/probe.log")
baseline_ms=120000
[ "$minutes" -lt 4 ] && baseline_ms=$((minutes * 30000))
rss_kb_at() { awk -v t="$1" '$3 ~ /^max_ms=/ && $1 <= t { r = $5 } END { sub("rss_kb=", "", r); print r + 0 }' "$work/probe.log"; }
rss_base=$(rss_kb_at $((start + baseline_ms)))
rss_end=$(rss_kb_at "$stop")
rss_growth=$((rss_end - rss_base))
frames_start=$(frames_at "$start")
frames_end=$(frames_at "$stop")
flat_cycles=$(awk '$3 <= $2' "$work/cycles.log" | wc -l)
min_cycle_frames=$(awk 'NR == 1 || $3 - $2 < m { m = $3 - $2 } END { print m + 0 }' "$work/cycles.log")

# Every return of the port during the run (the simulator prints "plugged in") must be followed
# by the program's "serial port is opened SUCCESSFULLY" within 3 s.
awk -v start="$start" '
  FNR == NR { if ($0 ~ /corvane-sim: plugged in/ && $1 >= start) back[++nb] = $1; next }
  /log: serial port is opened SUCCESSFULLY/ { opened[++no] = $1 }
  END {
    worst = 0; missing = 0
    for (i = 1; i <= nb; i++) {
      d = -1
      for (j = 1; j <= no; j++) if (opened[j] >= back[i]) { d = opened[j] - back[i]; break }
      if (d < 0) missing++; else if (d > worst) worst = d
      print i, d
    }
    printf "%d %d %d\n", nb, missing, worst > "/dev/stderr"
  }' "$work/sim.log" "$work/probe.log" > "$work/reconnects.log" 2> "$work/reconnect_summary"
read -r replugs missed worst_reconnect < "$work/reconnect_summary"
unplugs=$(grep -c "cmd: unplug" "$work/commands.log" || true)
disconnects=$(grep -c "log: serial port DISONNECTED\|log: some ERROR with serial port" "$work/probe.log" || true)

echo
echo "==== soak summary ($minutes min, $(( (stop - start) / 1000 )) s measured) ===="
echo "program:            $exit_status; $(grep 'received frames' "$work/studio.out" || echo 'no frame report')"
slow=$(awk -v a="$start" -v b="$stop" '$3 == "slow" && $1 >= a && $1 <= b { n++; s = s " " substr($4, 11) "@" int(($1 - a) / 1000) "s" } END { print n + 0 (n ? ":" s : "") }' "$work/probe.log")
echo "GUI thread answer:  max $gui_max ms (limit $max_gui_ms), probe lines $probe_lines, longest gap between them $probe_gap ms"
echo "                    answers later than 100 ms (ms@time into the run): $slow"
echo "unplug/replug:      $unplugs unplugs, $replugs returns of the port, $missed without reconnection, slowest reconnection $worst_reconnect ms (limit $max_reconnect_ms)"
echo "frames decoded:     $frames_start -> $frames_end, fewest in one cycle $min_cycle_frames, cycles without new frames $flat_cycles"
echo "resident memory:    $rss_base kB after $((baseline_ms / 1000)) s, $rss_end kB at the end, growth $rss_growth kB (limit $max_rss_growth_kb kB)"

fail=0
[ "$exit_status" = "exit status 0" ] || { echo "FAIL: program $exit_status"; fail=1; }
[ "$gui_max" -le "$max_gui_ms" ] || { echo "FAIL: GUI thread took $gui_max ms to answer"; fail=1; }
if [ "$probe_gap" -gt 2500 ]; then
  echo "FAIL: probe silent for $probe_gap ms"
  fail=1
  # When it happened, and what the harness and the simulator (other processes) did meanwhile.
  awk -v a="$start" -v b="$stop" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b { if (p && $1 - p > 2500) print p, $1; p = $1 }' "$work/probe.log" |
    while read -r g0 g1; do
      echo "  probe silent from $(( (g0 - start) / 1000 )) s to $(( (g1 - start) / 1000 )) s into the run; meanwhile:"
      cat "$work/commands.log" "$work/sim.log" | awk -v a="$g0" -v b="$g1" -v s="$start" '$1 >= a && $1 <= b { $1 = sprintf("%.1f s", ($1 - s) / 1000); print "    " $0 }' | sort -n
    done
fi
[ "$replugs" -ge "$unplugs" ] && [ "$unplugs" -gt 0 ] || { echo "FAIL: the port came back $replugs times for $unplugs unplugs"; fail=1; }
[ "$missed" -eq 0 ] || { echo "FAIL: $missed returns of the port without reconnection"; fail=1; }
[ "$worst_reconnect" -le "$max_reconnect_ms" ] || { echo "FAIL: reconnection took $worst_reconnect ms"; fail=1; }
[ "$flat_cycles" -eq 0 ] || { echo "FAIL: $flat_cycles cycles without new frames"; fail=1; }
[ "$rss_growth" -le "$max_rss_growth_kb" ] || { echo "FAIL: RSS grew by $rss_growth kB"; fail=1; }
[ "$fail" -eq 0 ] && echo "soak: PASS" || echo "soak: FAIL"
exit "$fail"
