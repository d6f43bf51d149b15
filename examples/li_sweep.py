#!/usr/bin/env python3
"""L-I curve of a CW channel through Corvane Studio's SCPI server.

Switches the channel's output on, sets the current in steps, waits at each
step until the measured current has settled on the set-point, reads current
and optical power and writes them to a CSV file. The output is switched off
at the end, also after an error. Python 3 standard library only.

    python3 li_sweep.py --port 5025 --channel 1 --start 10 --stop 100 --step 10 --out li.csv
"""
import argparse
import csv
import socket
import sys
import time


class Instrument:
    """One SCPI connection: newline-terminated lines, one answer line per query."""

    def __init__(self, host, port, timeout):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buffer = b""

    def write(self, command):
        self.sock.sendall(command.encode("ascii") + b"\n")

    def query(self, command):
        self.write(command)
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("the server closed the connection")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode("ascii", "replace").strip()

    def check(self, what):
        """Raises when the server reported an error for the last commands."""
        error = self.query("SYST:ERR?")
        if not error.startswith("0,"):
            raise RuntimeError(f"{what}: {error}")

    def close(self):
        self.sock.close()


def set_current(inst, channel, target, timeout=5.0):
    """Sets the current and waits with *OPC? until its frames have left for
    the board. The panel takes set-points only while it shows the output on
    (from its next refresh after switching on): a refusal for that reason
    (-221) is tried again for a few seconds, any other error stops.

    *OPC? goes on a line of its own: a command that fails ends its line, so
    "CURR 50;*OPC?" would never answer after a refusal."""
    deadline = time.monotonic() + timeout
    while True:
        inst.write(f"CHAN{channel}:CURR {target}")
        inst.query("*OPC?")
        error = inst.query("SYST:ERR?")
        if error.startswith("0,"):
            return
        if not error.startswith("-221,") or time.monotonic() > deadline:
            raise RuntimeError(f"setting {target} mA: {error}")
        time.sleep(0.2)


def settle(inst, channel, target, tolerance, timeout):
    """Waits until the measured current is within tolerance of target and stops moving."""
    deadline = time.monotonic() + timeout
    previous = None
    while time.monotonic() < deadline:
        current = float(inst.query(f"CHAN{channel}:MEAS:CURR?"))
        if abs(current - target) <= tolerance and previous is not None and abs(current - previous) <= tolerance:
            return current
        previous = current
        time.sleep(0.25)
    raise TimeoutError(f"current did not settle at {target} mA within {timeout} s (last {previous} mA)")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=5025)
    p.add_argument("--channel", type=int, default=1)
    p.add_argument("--start", type=float, default=10.0, help="first current, mA")
    p.add_argument("--stop", type=float, default=100.0, help="last current, mA")
    p.add_argument("--step", type=float, default=10.0, help="current step, mA")
    p.add_argument("--tolerance", type=float, default=0.5, help="settled within this many mA")
    p.add_argument("--settle-timeout", type=float, default=15.0, help="seconds per step")
    p.add_argument("--out", default="li_curve.csv")
    a = p.parse_args()
    if a.step <= 0 or a.stop < a.start:
        p.error("need --step > 0 and --stop >= --start")

    inst = Instrument(a.host, a.port, timeout=5.0)
    ch = a.channel
    try:
        print(inst.query("*IDN?"))
        inst.write("*CLS")
        # A program just started needs a moment to find the board.
        deadline = time.monotonic() + 15.0
        while inst.query(f"CHAN{ch}:PRES?") != "1" and time.monotonic() < deadline:
            time.sleep(0.2)
        # The panel takes the board's limits over its first polling passes.
        time.sleep(3.0)
        kind = inst.query(f"CHAN{ch}:TYPE?").strip('"')
        if inst.query(f"CHAN{ch}:PRES?") != "1" or "CW" not in kind:
            raise RuntimeError(f"channel {ch} is no CW channel with a board answering ({kind or 'none'})")
        inst.write(f"CHAN{ch}:OUTP ON")
        inst.query("*OPC?")
        inst.check("switching on")
        rows = []
        steps = int(round((a.stop - a.start) / a.step)) + 1
        for k in range(steps):
            target = round(a.start + k * a.step, 3)
            set_current(inst, ch, target)
            current = settle(inst, ch, target, a.tolerance, a.settle_timeout)
            power = float(inst.query(f"CHAN{ch}:MEAS:POW?"))
            rows.append((target, current, power))
            print(f"{target:8.2f} mA set  {current:8.2f} mA  {power:8.2f} mW")
        with open(a.out, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["set_current_mA", "current_mA", "power_mW"])
            w.writerows(rows)
        print(f"{len(rows)} points written to {a.out}")
    finally:
        inst.write(f"CHAN{ch}:OUTP OFF")
        inst.query("*OPC?")  # answered once the switch-off frames have been written
        inst.close()


if __name__ == "__main__":
    try:
        main()
    except (OSError, RuntimeError, TimeoutError, ValueError) as e:
        print(f"li_sweep: {e}", file=sys.stderr)
        sys.exit(1)
