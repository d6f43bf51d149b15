#!/usr/bin/env bash
# Runs a client command against the real program (offscreen, --remote on a
# free port) connected to one simulated board, on channel 1, in a scratch
# directory; REMOTE_PORT holds the port for the command. The program is
# stopped afterwards (a second SIGTERM answers its outputs-off question).
# Usage: against_sim.sh SIM STUDIO PYTHON BOARD_TYPE:CAN_ID COMMAND...
set -euo pipefail
sim="$1" studio="$2" python="$3" board="$4"
shift 4
work="$(mktemp -d)"
pids=()
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
link="$work/dev/ttyRC0"
REMOTE_PORT="$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
export REMOTE_PORT
printf '[serial]\nportname=%s\nconnection_mode=true\n[device_conf]\nchannel_enabled=true\nedit_name=CH1\naddr=%s\n[settings]\navailable=1\n' \
  "$link" "${board#*:}" > settings.ini
"$sim" --link "$link" --quiet --settle-ms 300 --board "$board" & pids+=($!)
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
"$studio" -platform offscreen --port "$link" --remote "$REMOTE_PORT" > studio.log 2>&1 & studio_pid=$!
for _ in $(seq 100); do grep -q "serial port is opened SUCCESSFULLY" studio.log && break; sleep 0.1; done
"$@"
