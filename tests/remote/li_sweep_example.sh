#!/usr/bin/env bash
# Runs examples/li_sweep.py against the real program (offscreen, --remote on a
# free port) connected to the simulated bus, and checks its CSV: one row per
# step, measured current on the set-point, power rising with the current.
# Usage: li_sweep_example.sh SIM STUDIO SCRIPT PYTHON
set -euo pipefail
sim="$1" studio="$2" script="$3" python="$4"
work="$(mktemp -d)"
pids=()
# The program first (a second SIGTERM answers its outputs-off question, should
# it still show the laser on), then the simulator.
cleanup() {
  if [ -n "${studio_pid:-}" ]; then
    kill -TERM "$studio_pid" 2>/dev/null || true
    for _ in $(seq 30); do kill -0 "$studio_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$studio_pid" 2>/dev/null || true
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
link="$work/dev/ttyLI0"
port="$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf '[serial]\nportname=%s\nconnection_mode=true\n[device_conf]\nchannel_enabled=true\nedit_name=CW\naddr=11\n[settings]\navailable=1\n' "$link" > settings.ini
"$sim" --link "$link" --quiet --settle-ms 300 --board cw:11 & pids+=($!)
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
"$studio" -platform offscreen --port "$link" --remote "$port" > studio.log 2>&1 & studio_pid=$!
for _ in $(seq 100); do grep -q "serial port is opened SUCCESSFULLY" studio.log && break; sleep 0.1; done
"$python" "$script" --port "$port" --channel 1 --start 20 --stop 120 --step 50 --out li.csv
"$python" - li.csv <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
sets = [float(r["set_current_mA"]) for r in rows]
assert sets == [20, 70, 120], sets
for r in rows:
    assert abs(float(r["current_mA"]) - float(r["set_current_mA"])) <= 0.5, r
powers = [float(r["power_mW"]) for r in rows]
assert powers[0] > 0 and all(b > a for a, b in zip(powers, powers[1:])), powers
print("li_sweep CSV:", len(rows), "rows, power", powers[0], "to", powers[-1], "mW")
PY
