#!/usr/bin/env python3
"""A bench-instrument client loop through PyVISA (pyvisa-py) with the
defaults the README gives: *RST, *CLS, a set-point, *OPC?, a reading and
SYST:ERR? on a PS channel, LOOPS times; any time-out or error fails.
Exits 77 (skipped) when pyvisa is not installed.
Usage: pyvisa_loop.py PORT [LOOPS]"""
import statistics
import sys
import time

try:
    import pyvisa
except ImportError:
    print("pyvisa_loop: pyvisa is not installed (Debian: python3-pyvisa-py), skipped")
    sys.exit(77)

port = int(sys.argv[1])
loops = int(sys.argv[2]) if len(sys.argv) > 2 else 1000

rm = pyvisa.ResourceManager("@py")
inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET",
                        read_termination="\n", write_termination="\n", timeout=5000)
print(inst.query("*IDN?").strip())
deadline = time.monotonic() + 20
while inst.query("CHAN1:PRES?") != "1" or inst.query("CHAN1:FREQ?") in ("", "0"):
    if time.monotonic() > deadline:
        sys.exit("pyvisa_loop: the board did not come up")
    time.sleep(0.2)
time.sleep(1.0)  # the panel fills its rate list from the board's first replies
rates = [r for r in ("500", "1000", "100", "200") if r != inst.query("CHAN1:FREQ?")][:2]

took = []
for k in range(loops):
    started = time.monotonic()
    inst.write("*RST")
    inst.write("*CLS")
    inst.write(f"CHAN1:FREQ {rates[k % 2]}")
    opc = inst.query("*OPC?")
    temperature = float(inst.query("CHAN1:MEAS:TEMP?"))
    error = inst.query("SYST:ERR?")
    if opc != "1" or not error.startswith("0,"):
        sys.exit(f"pyvisa_loop: loop {k}: *OPC? {opc!r}, SYST:ERR? {error!r}, rates {rates}")
    took.append(time.monotonic() - started)
inst.close()
took.sort()
print(f"pyvisa_loop: {loops} loops, temperature {temperature} C, loop time median "
      f"{1000 * statistics.median(took):.1f} ms, longest {1000 * took[-1]:.1f} ms")
