#!/usr/bin/python3
"""TANGO at scale on one machine: N programs, each with its simulator (ten
boards, one per channel), served database-less; one client subscribes to
State, current and temperature change events of every channel.
Measures event latency (the program's push time stamp to the client's
reception time stamp, same clock) while the client switches outputs on and
off, and each program's CPU without clients and with the subscribing client.
The client pulls its events from TANGO's queues (no Python callback runs in
TANGO's event thread) and unsubscribes while the programs still run.
The programs register with a private TANGO database (as the tests'
tango_database.py starts one). TANGO_BENCH_DATABASE=0 serves database-less
instead: there the client library (cppTango 9.3.4's keep-alive thread,
EventConsumerKeepAliveThread::reconnect_to_zmq_channel) crashes ~10 s after
the first subscription, so runs longer than that end in SIGSEGV.
Usage: tango_bench.py SIM STUDIO [N] [SECONDS]"""
import faulthandler
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import tango

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tango"))
from tango_database import Database, tools  # noqa: E402  (the tests' database rig)
from tango_devices import free_port, write_settings  # noqa: E402

SIM, STUDIO = sys.argv[1], sys.argv[2]
N = int(sys.argv[3]) if len(sys.argv) > 3 else 4
SECONDS = float(sys.argv[4]) if len(sys.argv) > 4 else 20.0
TYPES = ["cw", "pcw", "ps", "ns", "soa-ns", "dcdc", "cw", "pcw", "ps", "ns"]
TICK = os.sysconf("SC_CLK_TCK")
ATTRIBUTES = os.environ.get("TANGO_BENCH_ATTRIBUTES", "State,current,temperature").split(",")
QUEUE = 1000  # events kept per subscription between two pulls


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def start(work, k, tango_host):
    folder = f"{work}/pc{k}"
    os.makedirs(folder)
    link = f"{folder}/dev/ttyB{k}"
    write_settings(folder, link, range(21, 31))
    sim = [SIM, "--link", link, "--quiet", "--settle-ms", "300"]
    for ch in range(1, 11):
        sim += ["--board", f"{TYPES[ch - 1]}:{20 + ch}"]
    procs = [subprocess.Popen(sim, cwd=folder)]
    while not os.path.exists(link):
        time.sleep(0.05)
    port = free_port()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.pop("TANGO_HOST", None)
    serve = ["--tango-port", str(port)]
    if tango_host:
        env["TANGO_HOST"], serve = tango_host, ["--tango"]
    procs.append(subprocess.Popen([STUDIO, "-platform", "offscreen", "--port", link, *serve,
                                   "--tango-instance", f"pc{k}"], cwd=folder, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    return procs, port


def cpu_percent(pids, seconds):
    before = [cpu_seconds(p) for p in pids]
    time.sleep(seconds)
    return [100 * (cpu_seconds(p) - b) / seconds for p, b in zip(pids, before)]


def pull(subs):
    """Empties every subscription's queue; the latencies in ms of the valid events."""
    ms = []
    for d, eid in subs:
        for ev in d.get_events(eid):
            if not ev.err and ev.attr_value is not None:
                ms.append(1000 * (ev.reception_date.totime() - ev.attr_value.time.totime()))
    return ms


def main():
    faulthandler.enable()
    found, missing = tools()
    use_database = os.environ.get("TANGO_BENCH_DATABASE", "1") == "1"
    if use_database and missing:
        sys.exit("tango_bench: no TANGO database here (missing " + ", ".join(missing) +
                 "); TANGO_BENCH_DATABASE=0 runs without one")
    with tempfile.TemporaryDirectory() as work:
        db = Database(work, found) if use_database else None
        runs = [start(work, k, db.host if db else None) for k in range(N)]
        try:
            names = [f"corvane/pc{k}/ch{ch}" if db else f"tango://127.0.0.1:{port}/corvane/pc{k}/ch{ch}#dbase=no"
                     for k, (_, port) in enumerate(runs) for ch in range(1, 11)]
            proxies = []
            for n in names:
                deadline = time.monotonic() + 30
                while True:
                    try:
                        d = tango.DeviceProxy(n)  # with a database: once the program registered it
                        if d.state() in (tango.DevState.ON, tango.DevState.OFF):
                            break
                    except tango.DevFailed:
                        pass
                    if time.monotonic() > deadline:
                        sys.exit(f"tango_bench: {n} did not come up")
                    time.sleep(0.2)
                proxies.append(d)
            studios = [procs[1].pid for procs, _ in runs]
            sims = [procs[0].pid for procs, _ in runs]
            print("tango_bench: every channel answers", file=sys.stderr, flush=True)
            idle = cpu_percent(studios, SECONDS / 2)

            started = time.monotonic()
            subs = []
            for d in proxies:
                for attr in ATTRIBUTES:
                    try:
                        subs.append((d, d.subscribe_event(attr, tango.EventType.CHANGE_EVENT, QUEUE)))
                    except tango.DevFailed:
                        pass  # a type without the reading
            subscribe_s = time.monotonic() - started
            print("tango_bench: subscribed", file=sys.stderr, flush=True)
            pull(subs)  # the subscriptions' first values
            quiet = cpu_percent(studios, SECONDS / 2)
            pull(subs)
            stop = threading.Event()
            toggles = [0]

            def toggle():
                on = True
                while not stop.is_set():
                    for d in proxies:
                        try:
                            d.command_inout("On" if on else "Off")
                        except tango.DevFailed:
                            pass
                    toggles[0] += 1
                    on = not on
                    stop.wait(1.0)
            t = threading.Thread(target=toggle, daemon=True)
            t.start()
            try:
                busy = cpu_percent(studios + sims, SECONDS)
                busy, sim_busy = busy[:N], busy[N:]
            finally:
                stop.set()
                t.join()
            ms = sorted(pull(subs))
            print("tango_bench: toggled", file=sys.stderr, flush=True)
            for d, eid in subs:
                d.unsubscribe_event(eid)
            del subs, proxies
            if not ms:
                sys.exit("tango_bench: no events")
            print(f"tango_bench: {N} programs {'with' if db else 'without'} a database, {N * 10} channels, "
                  f"{len(ATTRIBUTES)} attributes each ({'+'.join(ATTRIBUTES)}), subscribed in {subscribe_s:.2f} s")
            print(f"tango_bench: {toggles[0]} rounds of On/Off over every channel, {len(ms)} events, "
                  f"latency median {statistics.median(ms):.2f} ms, 99th {ms[int(0.99 * (len(ms) - 1))]:.2f} ms, "
                  f"max {ms[-1]:.2f} ms")
            print("tango_bench: CPU per program (median of %d): no client %.1f %%, subscribed %.1f %%, "
                  "subscribed while outputs toggle %.1f %%" % (N, statistics.median(idle), statistics.median(quiet),
                                                              statistics.median(busy)))
            print("tango_bench: while outputs toggle: all %d programs %.0f %%, their simulators %.0f %% "
                  "(of one core)" % (N, sum(busy), sum(sim_busy)))
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
            if db:
                db.stop()


if __name__ == "__main__":
    main()
