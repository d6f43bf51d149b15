#!/usr/bin/python3
"""Every Corvane channel of several PCs in one table, then their State changes.

With a TANGO database (TANGO_HOST set), the channels are found by a device
name pattern:
    tango_table.py 'corvane/*/ch*'
Without one, name each program's port and instance (database-less servers):
    tango_table.py --nodb rack1:10000/rack1 rack2:10000/rack2
--watch SECONDS keeps printing State changes for that long (0: table only):
change events with a database; without one the States are read twice a
second instead, as TANGO 9.3's client never hears a database-less server's
heartbeat (it subscribes to another name than the server sends) and its
keep-alive thread crashes ~10 s after the first subscription.
Needs python3-tango (Debian's /usr/bin/python3).
"""
import argparse
import sys
import time

import tango

COLUMNS = ["current", "temperature", "voltage", "frequency", "emission"]


def devices(args):
    if args.nodb:
        for name in args.names:
            host, instance = name.split("/", 1)
            for n in range(1, 11):
                yield f"tango://{host}/corvane/{instance}/ch{n}#dbase=no"
        return
    db = tango.Database()
    for pattern in args.names:
        yield from sorted(db.get_device_exported(pattern))


def cell(proxy, attr):
    try:
        v = proxy.read_attribute(attr)
        if v.quality == tango.AttrQuality.ATTR_INVALID:
            return "stale"
        return f"{v.value:g}" if isinstance(v.value, float) else str(v.value)
    except tango.DevFailed:
        return "-"


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("names", nargs="+", help="device name patterns, or HOST:PORT/INSTANCE with --nodb")
    p.add_argument("--nodb", action="store_true", help="database-less servers")
    p.add_argument("--watch", type=float, default=10.0, help="seconds of State changes to print")
    args = p.parse_args()

    proxies = {}
    print(f"{'device':40} {'state':8} " + " ".join(f"{c:>11}" for c in COLUMNS))
    for name in devices(args):
        try:
            d = tango.DeviceProxy(name)
            state = d.state()
        except tango.DevFailed as e:
            print(f"{name:40} unreachable: {e.args[0].desc.strip()}")
            continue
        proxies[name] = d
        if state == tango.DevState.DISABLE:
            continue
        print(f"{name:40} {str(state):8} " + " ".join(f"{cell(d, c):>11}" for c in COLUMNS))
    if args.watch <= 0:
        return 0

    def show(name, state):
        print(f"{time.strftime('%H:%M:%S')} {name:40} {state}")
    if args.nodb:
        last = {}
        end = time.monotonic() + args.watch
        while time.monotonic() < end:
            for name, d in proxies.items():
                try:
                    state = d.state()
                except tango.DevFailed:
                    state = "unreachable"
                if last.get(name) != state:
                    show(name, state)
                    last[name] = state
            time.sleep(0.5)
        return 0

    def changed(ev):
        if not ev.err:
            show(ev.device.dev_name(), ev.attr_value.value)
    ids = [(d, d.subscribe_event("State", tango.EventType.CHANGE_EVENT, changed)) for d in proxies.values()]
    time.sleep(args.watch)
    for d, i in ids:
        d.unsubscribe_event(i)
    return 0


if __name__ == "__main__":
    sys.exit(main())
