#!/usr/bin/env bash
# End-to-end benchmark: ten CW boards on the simulated bus, all ten channels
# enabled, the program offscreen for MEASURE_S seconds (default 60), RUNS times
# (default 3). Reports the program's CPU use (% of one core, median of the
# runs), its peak resident memory, and whether every reply that the simulated
# bus sent was received (the program's frame counter against the bus's count),
# and how often its threads were woken: voluntary context switches per second
# of the GUI thread, the serial thread and the ten channel workers together.
# Limits: CPU <= 0.5 %, GUI <= 20 and serial <= 80 wake-ups/s, RSS <= 100 MB,
# no reply lost; exits 1 when one is missed. PROGRAM may name another build
# of the program (to compare two versions on the same bus in the same run).
# TRENDS=1 opens the program on the Trends page (window 1280x1000, the plots
# in view redrawn twice a second), to compare its CPU with a run without it.
# The bus answers as a USB adapter does: each reply in a write of its own,
# REPLY_DELAY_MS (default 1) after its request; 0 answers at once.
#
# WAIT=serial or WAIT=socketcan measures instead the program waiting in auto
# connection for a port that is absent (a serial port ttyUSB97, or
# socketcan:can0): its CPU over RUNS runs, then one more run with the probe
# plugin (bench/soak_probe.cpp) for the longest the GUI thread took to answer.
# Limits: CPU <= 0.3 %, GUI answer <= 5 ms.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
runs="${RUNS:-3}"
measure_s="${MEASURE_S:-60}"
warmup_s=5

generator=()
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  generator=(-G Ninja)
fi
cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"${JOBS:-2}" --target corvane-studio corvane-bench-bus corvane_soak_probe >/dev/null

program="${PROGRAM:-$build_dir/app/corvane-studio}"
bus="$build_dir/bench/corvane-bench-bus"
ticks_per_s="$(getconf CLK_TCK)"

cpu_ticks() { # utime + stime of a process
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# "gui serial workers": voluntary context switches of the three thread groups.
# The GUI thread is the process's first; the others are named after their
# QThread object ("serial") or class: the polling is one thread
# "poll_scheduler" (ten "laser_worker" threads in builds before it).
wakeups() {
  local pid="$1" gui=0 serial=0 workers=0 t n c
  for t in /proc/"$pid"/task/*; do
    n="$(awk '/^voluntary_ctxt_switches:/ { print $2 }' "$t/status" 2>/dev/null)" || continue
    c="$(cat "$t/comm" 2>/dev/null)" || continue
    if [ "${t##*/}" = "$pid" ]; then gui=$((gui + n))
    elif [ "$c" = "serial" ]; then serial=$((serial + n))
    elif [ "$c" = "laser_worker" ] || [ "$c" = "poll_scheduler" ]; then workers=$((workers + n))
    fi
  done
  echo "$gui $serial $workers"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

work="$(mktemp -d)"
bus_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -n "${WAIT:-}" ]; then
  case "$WAIT" in
    serial) wait_port="ttyUSB97" ;;
    socketcan) wait_port="socketcan:can0" ;;
    *) echo "bench_e2e: WAIT is serial or socketcan" >&2; exit 2 ;;
  esac
  if [ "$WAIT" = socketcan ] && [ -e /sys/class/net/can0 ]; then
    echo "bench_e2e: can0 exists here; WAIT=socketcan needs it absent" >&2; exit 2
  fi
  cpu_results=()
  for run in $(seq 0 "$runs"); do
    dir="$work/wait$run"
    mkdir -p "$dir"
    printf '[serial]\nportname=%s\nportspeed=115200\nconnection_mode=true\n\n[device_conf]\nchannel_enabled=true\naddr=1\n\n[settings]\navailable=1\n' \
      "$wait_port" >"$dir/settings.ini"
    probe_env=()
    if [ "$run" -eq 0 ]; then # the probe's run: GUI answer times, its own pings cost CPU
      probe_env=(QT_PLUGIN_PATH="$build_dir/bench/plugins" QT_QPA_GENERIC_PLUGINS=corvane_soak_probe
                 CORVANE_PROBE_LOG="$dir/probe.log")
    fi
    (cd "$dir" && env "${probe_env[@]}" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.canbus*=false" \
       "$program") >"$dir/app.log" 2>&1 &
    app_pid=$!
    sleep "$warmup_s"
    t0="$(cpu_ticks "$app_pid")"
    read -r g0 s0 w0 < <(wakeups "$app_pid")
    start_ms=$(( $(date +%s%3N) ))
    sleep "$measure_s"
    t1="$(cpu_ticks "$app_pid")"
    read -r g1 s1 w1 < <(wakeups "$app_pid")
    stop_ms=$(( $(date +%s%3N) ))
    rss_kb="$(awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status")"
    kill -TERM "$app_pid"; wait "$app_pid" || true; app_pid=""
    cpu="$(awk -v a="$t0" -v b="$t1" -v hz="$ticks_per_s" -v s="$measure_s" 'BEGIN { printf "%.2f", (b - a) / hz / s * 100 }')"
    gui_w="$(awk -v a="$g0" -v b="$g1" -v s="$measure_s" 'BEGIN { printf "%.1f", (b - a) / s }')"
    lines="$(grep -c . "$dir/app.log" || true)"
    if [ "$run" -eq 0 ]; then
      gui_max="$(awk -v a="$start_ms" -v b="$stop_ms" '$3 ~ /^max_ms=/ && $1 >= a && $1 <= b { v = $3; sub("max_ms=", "", v); if (v + 0 > m) m = v + 0 } END { print m + 0 }' "$dir/probe.log")"
      echo "probe run: longest GUI answer ${gui_max} ms, CPU ${cpu} % with the probe's own pings"
    else
      cpu_results+=("$cpu")
      echo "run $run: waiting for $wait_port: CPU ${cpu} % of one core, GUI wake-ups/s ${gui_w}, RSS ${rss_kb} kB, log lines ${lines}"
    fi
  done
  median_cpu="$(median "${cpu_results[@]}")"
  echo "median CPU ${median_cpu} % of one core (limit 0.3 %), longest GUI answer ${gui_max} ms (limit 5 ms)"
  fail=0
  awk -v c="$median_cpu" 'BEGIN { exit !(c <= 0.3) }' || { echo "bench_e2e: CPU above the limit while waiting"; fail=1; }
  [ "$gui_max" -le 5 ] || { echo "bench_e2e: the GUI thread stalled while waiting"; fail=1; }
  exit "$fail"
fi

trends_args=()
if [ "${TRENDS:-0}" = 1 ]; then
  trends_args=(--trends -qwindowgeometry 1280x1000+0+0)
fi

cpu_results=()
gui_results=()
serial_results=()
worker_results=()
rss_results=()
lost_any=0
for run in $(seq 1 "$runs"); do
  dir="$work/run$run"
  mkdir -p "$dir"
  link="$dir/dev/ttyCAN0"
  {
    printf '[serial]\nportname=%s\nportspeed=115200\nconnection_mode=true\n\n[device_conf]\n' "$link"
    for n in $(seq 1 10); do
      if [ "$n" -eq 1 ]; then
        printf 'channel_enabled=true\nedit_name=CW 1\naddr=1\n'
      else
        printf 'channel_%d_enabled=true\nedit_name_%d=CW %d\naddr_%d=%d\n' "$n" "$n" "$n" "$n" "$n"
      fi
    done
    printf 'mini_usb=false\n\n[settings]\navailable=1\n'
  } >"$dir/settings.ini"

  serve_ms=$(( (warmup_s + measure_s) * 1000 ))
  "$bus" --link "$link" --boards 10 --serve-ms "$serve_ms" --reply-delay-ms "${REPLY_DELAY_MS:-1}" >"$dir/bus.log" 2>&1 &
  bus_pid=$!
  for _ in $(seq 1 50); do
    grep -q '^ready' "$dir/bus.log" 2>/dev/null && break
    sleep 0.1
  done

  (cd "$dir" && QT_QPA_PLATFORM=offscreen exec "$program" --port "$link" --report-frames "${trends_args[@]}") >"$dir/app.log" 2>&1 &
  app_pid=$!

  sleep "$warmup_s"
  if ! grep -q "serial port is opened SUCCESSFULLY" "$dir/app.log"; then
    echo "bench_e2e: run $run: the program did not connect" >&2
    cat "$dir/app.log" >&2
    exit 1
  fi
  t0="$(cpu_ticks "$app_pid")"
  read -r g0 s0 w0 < <(wakeups "$app_pid")
  sleep "$measure_s"
  t1="$(cpu_ticks "$app_pid")"
  read -r g1 s1 w1 < <(wakeups "$app_pid")
  rss_kb="$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status")"

  # The bus goes silent after its serving time and then reports its count.
  for _ in $(seq 1 100); do
    grep -q '^replies sent:' "$dir/bus.log" && break
    sleep 0.1
  done
  kill -TERM "$app_pid"
  wait "$app_pid" || { echo "bench_e2e: run $run: the program exited with an error" >&2; exit 1; }
  app_pid=""
  kill -TERM "$bus_pid"
  wait "$bus_pid" || true
  bus_pid=""

  sent="$(awk -F': ' '/^replies sent:/ { print $2 }' "$dir/bus.log")"
  received="$(awk -F': ' '/^received frames:/ { print $2 }' "$dir/app.log")"
  cpu="$(awk -v a="$t0" -v b="$t1" -v hz="$ticks_per_s" -v s="$measure_s" \
    'BEGIN { printf "%.2f", (b - a) / hz / s * 100 }')"
  rss_mb="$(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }')"
  per_s() { awk -v a="$1" -v b="$2" -v s="$measure_s" 'BEGIN { printf "%.0f", (b - a) / s }'; }
  gui_w="$(per_s "$g0" "$g1")"; serial_w="$(per_s "$s0" "$s1")"; worker_w="$(per_s "$w0" "$w1")"
  gui_results+=("$gui_w"); serial_results+=("$serial_w"); worker_results+=("$worker_w")
  cpu_results+=("$cpu")
  rss_results+=("$rss_mb")
  status="all received"
  if [ "$sent" != "$received" ]; then
    status="LOST $((sent - received))"
    lost_any=1
  fi
  echo "run $run: CPU ${cpu} % of one core, peak RSS ${rss_mb} MB, replies sent ${sent}, frames received ${received} (${status}), wake-ups/s GUI ${gui_w} serial ${serial_w} polling ${worker_w}"
done

median_cpu="$(median "${cpu_results[@]}")"
median_gui="$(median "${gui_results[@]}")"
median_serial="$(median "${serial_results[@]}")"
median_workers="$(median "${worker_results[@]}")"
max_rss="$(printf '%s\n' "${rss_results[@]}" | sort -g | tail -1)"
echo "median CPU ${median_cpu} % of one core (limit 0.5 %), peak RSS ${max_rss} MB (limit 100 MB)"
echo "median wake-ups/s: GUI ${median_gui} (limit 20), serial ${median_serial} (limit 80), polling ${median_workers}"

fail=0
awk -v c="$median_cpu" 'BEGIN { exit !(c <= 0.5) }' || { echo "bench_e2e: CPU above the limit"; fail=1; }
[ "$median_gui" -le 20 ] || { echo "bench_e2e: GUI thread woken too often"; fail=1; }
[ "$median_serial" -le 80 ] || { echo "bench_e2e: serial thread woken too often"; fail=1; }
awk -v r="$max_rss" 'BEGIN { exit !(r <= 100.0) }' || { echo "bench_e2e: memory above the limit"; fail=1; }
[ "$lost_any" -eq 0 ] || { echo "bench_e2e: replies were lost"; fail=1; }
exit "$fail"
