#!/usr/bin/python3
"""TANGO at scale on one machine: N programs, each with its simulator (ten
boards, one per channel), served database-less; one client subscribes to
State, current and temperature change events of every channel.
Measures event latency (push time stamp to the client's callback, same
clock) while the client switches outputs on and off, and each program's CPU
without clients and with the subscribing client.
Usage: tango_bench.py SIM STUDIO [N] [SECONDS]"""
import faulthandler
import os
import random
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import tango

SIM, STUDIO = sys.argv[1], sys.argv[2]
N = int(sys.argv[3]) if len(sys.argv) > 3 else 4
SECONDS = float(sys.argv[4]) if len(sys.argv) > 4 else 20.0
TYPES = ["cw", "pcw", "ps", "ns", "soa-ns", "dcdc", "cw", "pcw", "ps", "ns"]
TICK = os.sysconf("SC_CLK_TCK")
# State only by default: with current and temperature too, pytango 9.3's
# client crashed (SIGSEGV in its event thread) on this machine.
ATTRIBUTES = os.environ.get("TANGO_BENCH_ATTRIBUTES", "State").split(",")


def free_port():
    """A free port below the ephemeral range (TANGO's advice: a client socket may take one above)."""
    while True:
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                pass


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def start(work, k):
    folder = f"{work}/pc{k}"
    os.makedirs(folder)
    link = f"{folder}/dev/ttyB{k}"
    conf = f"[serial]\nportname={link}\nconnection_mode=true\n[device_conf]\n"
    sim = [SIM, "--link", link, "--quiet", "--settle-ms", "300"]
    for ch in range(1, 11):
        key = "" if ch == 1 else f"_{ch}"
        enabled = "channel_enabled" if ch == 1 else f"channel_{ch}_enabled"
        conf += f"{enabled}=true\nedit_name{key}=CH{ch}\naddr{key}={20 + ch}\n"
        sim += ["--board", f"{TYPES[ch - 1]}:{20 + ch}"]
    with open(f"{folder}/settings.ini", "w") as f:
        f.write(conf + "[settings]\navailable=1\n")
    procs = [subprocess.Popen(sim, cwd=folder)]
    while not os.path.exists(link):
        time.sleep(0.05)
    port = free_port()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.pop("TANGO_HOST", None)
    procs.append(subprocess.Popen([STUDIO, "-platform", "offscreen", "--port", link, "--tango-port", str(port),
                                   "--tango-instance", f"pc{k}"], cwd=folder, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    return procs, port


def cpu_percent(pids, seconds):
    before = [cpu_seconds(p) for p in pids]
    time.sleep(seconds)
    return [100 * (cpu_seconds(p) - b) / seconds for p, b in zip(pids, before)]


def main():
    faulthandler.enable()
    with tempfile.TemporaryDirectory() as work:
        runs = [start(work, k) for k in range(N)]
        try:
            names = [f"tango://127.0.0.1:{port}/corvane/pc{k}/ch{ch}#dbase=no"
                     for k, (_, port) in enumerate(runs) for ch in range(1, 11)]
            proxies = []
            for n in names:
                d = tango.DeviceProxy(n)
                deadline = time.monotonic() + 30
                while True:
                    try:
                        if d.state() in (tango.DevState.ON, tango.DevState.OFF):
                            break
                    except tango.DevFailed:
                        pass
                    if time.monotonic() > deadline:
                        sys.exit(f"tango_bench: {n} did not come up")
                    time.sleep(0.2)
                proxies.append(d)
            studios = [procs[1].pid for procs, _ in runs]
            print("tango_bench: every channel answers", file=sys.stderr, flush=True)
            idle = cpu_percent(studios, SECONDS / 2)

            latencies, lock = [], threading.Lock()

            def on_event(ev):
                if ev.err or ev.attr_value is None:
                    return
                with lock:
                    latencies.append(time.time() - ev.attr_value.time.totime())
            started = time.monotonic()
            subs = []
            for d in proxies:
                for attr in ATTRIBUTES:
                    try:
                        subs.append((d, d.subscribe_event(attr, tango.EventType.CHANGE_EVENT, on_event)))
                    except tango.DevFailed:
                        pass  # a type without the reading
            subscribe_s = time.monotonic() - started
            print("tango_bench: subscribed", file=sys.stderr, flush=True)
            with lock:
                latencies.clear()  # the subscriptions' first values
            quiet = cpu_percent(studios, SECONDS / 2)
            stop = threading.Event()

            # Proxies of their own: pytango 9.3 crashed here when commands and
            # event callbacks shared one.
            commanders = [tango.DeviceProxy(n) for n in names]

            def toggle():
                on = True
                while not stop.is_set():
                    for d in commanders:
                        try:
                            d.command_inout("On" if on else "Off")
                        except tango.DevFailed:
                            pass
                    on = not on
                    stop.wait(1.0)
            t = threading.Thread(target=toggle)
            t.start()
            busy = cpu_percent(studios, SECONDS)
            stop.set()
            t.join()
            print("tango_bench: toggled", file=sys.stderr, flush=True)
            # No unsubscribing: pytango 9.3 crashed in it here; the programs stop anyway.
            with lock:
                ms = sorted(1000 * x for x in latencies)
            if not ms:
                sys.exit("tango_bench: no events")
            print(f"tango_bench: {N} programs, {len(proxies)} channels, {len(subs)} subscriptions in {subscribe_s:.2f} s")
            print(f"tango_bench: {len(ms)} events, latency median {statistics.median(ms):.2f} ms, "
                  f"99th {ms[int(0.99 * (len(ms) - 1))]:.2f} ms, max {ms[-1]:.2f} ms")
            print("tango_bench: CPU per program (median of %d): no client %.1f %%, subscribed %.1f %%, "
                  "subscribed while outputs toggle %.1f %%" % (N, statistics.median(idle), statistics.median(quiet),
                                                              statistics.median(busy)))
        finally:
            for procs, _ in runs:
                procs[1].send_signal(signal.SIGTERM)
            for procs, _ in runs:
                for _ in range(2):
                    try:
                        procs[1].wait(5)
                        break
                    except subprocess.TimeoutExpired:
                        procs[1].send_signal(signal.SIGTERM)
                procs[0].terminate()
                procs[0].wait()


if __name__ == "__main__":
    main()
    os._exit(0)  # past pytango's own teardown of live subscriptions
