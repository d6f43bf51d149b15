#!/usr/bin/env bash
# Runs examples/li_sweep.py against the real program connected to a simulated
# CW board, and checks its CSV: one row per step, measured current on the
# set-point, power rising with the current.
# Usage: li_sweep_example.sh SIM STUDIO SCRIPT PYTHON
set -euo pipefail
sim="$1" studio="$2" script="$3" python="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec bash "$here/against_sim.sh" "$sim" "$studio" "$python" cw:11 bash -c '
set -euo pipefail
"$1" "$2" --port "$REMOTE_PORT" --channel 1 --start 20 --stop 120 --step 50 --out li.csv
"$1" - li.csv <<'"'"'PY'"'"'
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
' li_sweep "$python" "$script"
