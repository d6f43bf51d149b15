#!/usr/bin/env python3
"""Load on the SCPI server: one client sends RATE queries a second for
SECONDS seconds, pipelined, and checks that every one is answered, in order.
Prints the count, the answer latency (median, 99th percentile, max) and exits
1 on a missing, extra or out-of-order answer."""
import socket
import sys
import threading
import time

port = int(sys.argv[1])
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
rate = int(sys.argv[3]) if len(sys.argv) > 3 else 1000

# Queries whose answers can be told apart, so that an answer out of order shows.
queries = [(b"*IDN?", lambda a: a.startswith("Corvane,")),
           (b"SYST:CONN?", lambda a: a == "1"),
           (b"CHAN1:NAME?", lambda a: a.startswith('"')),
           (b"CHAN1:MEAS:CURR?", lambda a: a.replace(".", "", 1).isdigit())]

sock = socket.create_connection(("127.0.0.1", port), timeout=10)
sent_at = []
errors = []
latencies = []


def reader(total):
    buffer = b""
    n = 0
    while n < total:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            errors.append(f"no answer to query {n} within 10 s")
            return
        if not chunk:
            errors.append("connection closed")
            return
        buffer += chunk
        *lines, buffer = buffer.split(b"\n")
        for line in lines:
            if n >= total:
                errors.append("an answer too many")
                return
            answer = line.decode("latin-1").strip()
            if not queries[n % len(queries)][1](answer):
                errors.append(f"query {n} ({queries[n % len(queries)][0].decode()}) answered {answer!r}")
                return
            latencies.append(time.monotonic() - sent_at[n])
            n += 1


total = int(seconds * rate)
thread = threading.Thread(target=reader, args=(total,))
thread.start()
start = time.monotonic()
batch = max(1, rate // 100)  # one write every 10 ms
for k in range(0, total, batch):
    due = start + k / rate
    delay = due - time.monotonic()
    if delay > 0:
        time.sleep(delay)
    lines = []
    for i in range(k, min(total, k + batch)):
        lines.append(queries[i % len(queries)][0])
        sent_at.append(time.monotonic())
    sock.sendall(b"\n".join(lines) + b"\n")
thread.join()
elapsed = time.monotonic() - start
if errors:
    print("remote_load: FAIL:", errors[0])
    sys.exit(1)
latencies.sort()
ms = lambda q: 1000 * latencies[min(len(latencies) - 1, int(q * len(latencies)))]
print(f"remote_load: {len(latencies)} queries in {elapsed:.1f} s, all answered in order; "
      f"latency median {ms(0.5):.2f} ms, 99% {ms(0.99):.2f} ms, max {1000 * latencies[-1]:.2f} ms")
