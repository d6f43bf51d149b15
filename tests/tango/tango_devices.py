#!/usr/bin/python3
"""The TANGO devices against the simulator, with python3-tango as the client.
Starts corvane-sim (one board of every type) and corvane-studio (database-less
TANGO and SCPI, for the panel's view) in a scratch folder; checks readings
against what the panel serves, set-points and off sequences on the wire,
events, stale/ALARM states, read-only mode and SIGTERM while busy.
Exits 77 (skipped) without python3-tango.
Usage: tango_devices.py SIM STUDIO"""
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

try:
    import tango
except ImportError:
    print("tango_devices: python3-tango is not installed, skipped")
    sys.exit(77)

SIM, STUDIO = sys.argv[1], sys.argv[2]
# channel: (sim board, readings the type has)
BOARDS = {
    1: ("cw:11", {"current", "temperature", "power", "emission"}),
    2: ("pcw:12", {"current", "temperature", "power", "emission"}),
    3: ("ps:13", {"temperature", "voltage", "frequency", "mode", "burst_n", "burst_m", "emission"}),
    4: ("ns:14", {"temperature", "voltage", "frequency", "pulse_width", "mode", "burst_n", "burst_m", "emission"}),
    5: ("soa-ns:15", {"temperature", "voltage", "frequency", "pulse_width", "mode", "burst_n", "burst_m", "emission"}),
    6: ("dcdc:16:out=12.5,in=24", {"current", "temperature", "input_voltage", "output_voltage",
                                   "fault_flags", "warning_flags", "emission"}),
}
READINGS = ["current", "temperature", "power", "voltage", "input_voltage", "output_voltage", "frequency",
            "pulse_width", "mode", "burst_n", "burst_m", "fault_flags", "warning_flags", "emission"]
# attribute: the SCPI query that serves what the panel shows
SCPI = {"current": "MEAS:CURR?", "temperature": "MEAS:TEMP?", "power": "MEAS:POW?", "voltage": "MEAS:VOLT?",
        "input_voltage": "MEAS:INP?", "output_voltage": "MEAS:VOLT?", "frequency": "FREQ?",
        "pulse_width": "PWID?", "burst_n": "BURS:N?", "burst_m": "BURS:M?", "fault_flags": "FAUL?",
        "warning_flags": "WARN?", "emission": "OUTP?"}
# channel, set-point attribute, value (the output is switched on first: CW boards take set-points only then)
WRITES = [(1, "current_setpoint", 150.0), (2, "temperature_setpoint", 24.5), (3, "voltage_setpoint", 20.0),
          (4, "pulse_width_setpoint", 30.0), (6, "current_setpoint", 1.5)]


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


def write_settings(work, link, addresses):
    """settings.ini for a program on the simulator at `link`: channels 1.. enabled, at these CAN addresses."""
    conf = "[serial]\nportname=%s\nconnection_mode=true\n[device_conf]\n" % link
    for ch, address in enumerate(addresses, 1):
        key = "" if ch == 1 else f"_{ch}"
        enabled = "channel_enabled" if ch == 1 else f"channel_{ch}_enabled"
        conf += f"{enabled}=true\nedit_name{key}=CH{ch}\naddr{key}={address}\n"
    with open(f"{work}/settings.ini", "w") as f:
        f.write(conf + "[settings]\navailable=1\n")


def fail(text):
    sys.exit(os.path.splitext(os.path.basename(sys.argv[0]))[0] + ": " + text)


def wait_for(what, check, timeout=15.0, found=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if check():
                return
        except (tango.DevFailed, OSError):
            pass
        time.sleep(0.1)
    fail("timed out waiting for " + what + (": " + found() if found else ""))


class Studio:
    """One program with its simulator in a scratch folder."""

    def __init__(self, work, extra=(), boards=True, tango_host=None, instance="test"):
        """Database-less on a port of its own, or registered with the database at `tango_host`."""
        self.work, self.port, self.remote = work, free_port(), free_port()
        self.instance, self.tango_host = instance, tango_host
        self.link, self.frames, self.control = f"{work}/dev/ttyTG0", f"{work}/frames.txt", f"{work}/control"
        write_settings(work, self.link, [board.split(":")[1] for board, _ in BOARDS.values()])
        self.sim = None
        if boards:
            args = [SIM, "--link", self.link, "--quiet", "--settle-ms", "300", "--frames", self.frames,
                    "--control", self.control]
            for board, _ in BOARDS.values():
                args += ["--board", board]
            self.sim = subprocess.Popen(args, cwd=work)
            wait_for("the simulator", lambda: os.path.exists(self.link), 5)
        self.log = open(f"{work}/studio.log", "w")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        env.pop("TANGO_HOST", None)
        serve = ["--tango-port", str(self.port)]
        if tango_host:
            env["TANGO_HOST"], serve = tango_host, ["--tango"]
        self.proc = subprocess.Popen([STUDIO, "-platform", "offscreen", "--port", self.link, "--remote", str(self.remote),
                                      *serve, "--tango-instance", instance, *extra],
                                     cwd=work, env=env, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            if tango_host:
                wait_for("the SCPI server", lambda: self.scpi("*IDN?"), found=self.output)
            else:
                wait_for("the TANGO server", lambda: self.device("studio").ping() >= 0)
        except BaseException:
            self.stop()  # a simulator left running would keep CTest waiting on its output
            raise

    def output(self):
        with open(f"{self.work}/studio.log") as f:
            return f.read()

    def device(self, name):
        name = f"corvane/{self.instance}/{name}"
        d = tango.DeviceProxy(name if self.tango_host else f"tango://127.0.0.1:{self.port}/{name}#dbase=no")
        d.set_timeout_millis(4000)
        return d

    def scpi(self, line):
        with socket.create_connection(("127.0.0.1", self.remote), timeout=5) as s:
            s.sendall((line + "\n").encode())
            if not line.rstrip().endswith("?") and "?" not in line:
                s.sendall(b"*OPC?\n")
            return s.makefile().readline().strip()

    def frame_lines(self):
        with open(self.frames) as f:
            return f.read().splitlines()

    def sim_command(self, line):
        with open(self.control, "w") as f:
            f.write(line + "\n")

    def stop(self):
        # A second SIGTERM answers the outputs-off question of a close with outputs on.
        rc = None
        for _ in range(2):
            self.proc.send_signal(signal.SIGTERM)
            try:
                rc = self.proc.wait(5)
                break
            except subprocess.TimeoutExpired:
                pass
        if rc is None:
            self.proc.kill()
            rc = self.proc.wait()
        if self.sim:
            self.sim.terminate()
            self.sim.wait()
        self.log.close()
        return rc


def commands(studio, before):
    """The command frames sent since line `before`, once they stopped coming:
    every command leaves three times in a row, the boards' polls once."""
    def triples():
        # A poll of another board may slip between the copies; a board's own
        # polls come a whole round apart.
        lines = studio.frame_lines()[before:]
        found, used = [], set()
        for i, line in enumerate(lines):
            if i in used:
                continue
            copies = [j for j in range(i, min(i + 8, len(lines))) if lines[j] == line][:3]
            if len(copies) == 3:
                found.append(line)
                used.update(copies)
        return found
    last, deadline = None, time.monotonic() + 5
    while time.monotonic() < deadline:
        time.sleep(0.4)
        now = triples()
        if now and now == last:
            return now
        last = now
    return last


def check_readings(studio):
    for ch, (board, has) in BOARDS.items():
        d = studio.device(f"ch{ch}")
        wait_for(f"ch{ch} ON/OFF", lambda: d.state() in (tango.DevState.ON, tango.DevState.OFF))
        time.sleep(0.6)  # the readings settle on their set-points (300 ms in the simulator)
        for attr in READINGS:
            if attr not in has:
                try:
                    d.read_attribute(attr)
                    fail(f"ch{ch} {board}: {attr} served though the type lacks it")
                except tango.DevFailed as e:
                    if "not available" not in e.args[0].reason:
                        fail(f"ch{ch}: {attr} refused with {e.args[0].reason!r}")
                continue
            value = d.read_attribute(attr).value
            if attr == "mode":
                shown = studio.scpi(f"CHAN{ch}:MODE?")
                if not value or not shown:
                    fail(f"ch{ch}: mode {value!r}, panel {shown!r}")
                continue
            shown = float(studio.scpi(f"CHAN{ch}:{SCPI[attr]}"))
            if abs(float(value) - shown) > 1e-9:
                fail(f"ch{ch} {board}: {attr} {value} but the panel shows {shown}")
    print("tango_devices: readings of every type equal the panel's")


def check_writes_and_off(studio):
    for ch, attr, value in WRITES:
        d = studio.device(f"ch{ch}")
        d.command_inout("On")
        wait_for(f"ch{ch} ON", lambda: d.state() == tango.DevState.ON)
        time.sleep(0.6)  # the frames of On reach the file
        before = len(studio.frame_lines())
        for attempt in range(10):
            try:
                d.write_attribute(attr, value)
                break
            except tango.DevFailed as e:
                # The panel enables its fields at its refresh, every 500 ms, after the output came on.
                if "control disabled" not in e.args[0].reason or attempt == 9:
                    fail(f"ch{ch}: {attr} = {value} refused: " + " / ".join(f"{x.reason}: {x.desc}" for x in e.args))
                time.sleep(0.3)
        sent = commands(studio, before)
        if len(sent) != 1:
            fail(f"ch{ch}: {attr} = {value} put {sent} on the wire, not one frame three times")
        wait_for(f"ch{ch} {attr} read back", lambda: abs(d.read_attribute(attr).value - value) < 1e-6)
    for ch in BOARDS:
        d = studio.device(f"ch{ch}")
        # The off sequence through TANGO is the one a script's OUTP OFF sends.
        d.command_inout("On")
        wait_for(f"ch{ch} ON", lambda: d.state() == tango.DevState.ON)
        time.sleep(0.5)  # the On frames reach the file
        before = len(studio.frame_lines())
        d.command_inout("Off")
        by_tango = commands(studio, before)
        wait_for(f"ch{ch} OFF", lambda: d.state() == tango.DevState.OFF)
        studio.scpi(f"CHAN{ch}:OUTP ON")
        wait_for(f"ch{ch} ON", lambda: d.state() == tango.DevState.ON)
        time.sleep(0.5)
        before = len(studio.frame_lines())
        studio.scpi(f"CHAN{ch}:OUTP OFF")
        by_scpi = commands(studio, before)
        if not by_tango or by_tango != by_scpi:
            fail(f"ch{ch}: Off sent {by_tango}, OUTP OFF sent {by_scpi}")
    for ch in BOARDS:
        studio.device(f"ch{ch}").command_inout("On")
    for ch in BOARDS:
        wait_for(f"ch{ch} ON", lambda: studio.device(f"ch{ch}").state() == tango.DevState.ON)
    studio.device("studio").command_inout("AllOutputsOff")
    for ch in BOARDS:
        wait_for(f"ch{ch} OFF after AllOutputsOff", lambda: studio.device(f"ch{ch}").state() == tango.DevState.OFF)
    # A refusal says why.
    try:
        studio.device("ch3").write_attribute("current_setpoint", 10.0)
        fail("a PS board took a current set-point")
    except tango.DevFailed as e:
        if not e.args[0].reason:
            fail("a refusal without a reason")
    print("tango_devices: set-points, On/Off and AllOutputsOff on the wire as the panel's")


def check_events_and_states(studio):
    d = studio.device("ch1")
    seen = []
    got = threading.Event()

    def on_event(ev):
        if not ev.err and ev.attr_value is not None:
            seen.append(ev.attr_value.value)
            if ev.attr_value.value == tango.DevState.ON:
                got.set()
    eid = d.subscribe_event("State", tango.EventType.CHANGE_EVENT, on_event)
    d.command_inout("On")
    if not got.wait(5):
        fail(f"no State event ON after On: {seen}")
    d.unsubscribe_event(eid)
    wait_for("ch1 emitting", lambda: d.read_attribute("emission").value)
    # The change is in the event log, by the client's host.
    log = studio.device("studio").read_attribute("log").value or []
    if not any('"kind":"output","channel":1,"origin":"tango client 127.0.0.1' in line for line in log):
        fail(f"the event log names no TANGO client's host for On: {log[-5:]}")
    # Lost while emitting: ALARM; a silent board that was off: UNKNOWN.
    studio.sim_command("silent 11 1")
    studio.sim_command("silent 13 1")
    wait_for("ch1 ALARM", lambda: d.state() == tango.DevState.ALARM, 10,
             lambda: f"{d.state()} {d.status()!r}; its event log ends:\n"
             + "\n".join((studio.device("studio").read_attribute("log").value or [])[-12:]))
    wait_for("ch3 UNKNOWN", lambda: studio.device("ch3").state() == tango.DevState.UNKNOWN, 10)
    if studio.device("ch3").read_attribute("temperature").quality != tango.AttrQuality.ATTR_INVALID:
        fail("a stale reading served as valid")
    if not studio.device("studio").read_attribute("alarms").value:
        fail("the program device lists no alarm")
    studio.sim_command("silent 11 0")
    studio.sim_command("silent 13 0")
    d.command_inout("AcknowledgeAlarm")
    wait_for("ch1 after the alarm", lambda: d.state() in (tango.DevState.ON, tango.DevState.OFF), 10)
    wait_for("ch3 back", lambda: studio.device("ch3").state() == tango.DevState.OFF, 10)
    print("tango_devices: events, ALARM, UNKNOWN and the event log")


def check_read_only(work):
    studio = Studio(work, ["--tango-readonly"])
    try:
        d = studio.device("ch1")
        wait_for("ch1 OFF", lambda: d.state() == tango.DevState.OFF)
        for action in (lambda: d.command_inout("On"), lambda: d.write_attribute("temperature_setpoint", 25.0),
                       lambda: studio.device("studio").command_inout("AcknowledgeAlarms")):
            try:
                action()
                fail("read-only mode took a write or command")
            except tango.DevFailed as e:
                if "read-only" not in e.args[0].reason:
                    fail("read-only refusal: " + e.args[0].reason)
        studio.device("studio").command_inout("AllOutputsOff")
    finally:
        rc = studio.stop()
    if rc != 0:
        fail(f"read-only run exit code {rc}")
    print("tango_devices: read-only mode refuses all but AllOutputsOff")


def check_signal_busy(work, runs, sig):
    for run in range(runs):
        studio = Studio(work, boards=False)
        stop = threading.Event()

        def hammer():
            d = studio.device("ch1")
            while not stop.is_set():
                try:
                    d.command_inout("Off")
                    d.read_attribute("current")
                except tango.DevFailed:
                    pass
        threads = [threading.Thread(target=hammer) for _ in range(2)]
        for t in threads:
            t.start()
        time.sleep(0.3)
        studio.proc.send_signal(sig)
        try:
            rc = studio.proc.wait(15)
        except subprocess.TimeoutExpired:
            studio.proc.kill()
            rc = "hung"
        stop.set()
        for t in threads:
            t.join()
        studio.log.close()
        if rc != 0:
            with open(f"{work}/studio.log") as f:
                fail(f"{sig.name} while busy, run {run + 1}: exit {rc}\n{f.read()[-2000:]}")
    print(f"tango_devices: {sig.name} while busy exits 0 in {runs} of {runs} runs")


def main():
    runs = int(os.environ.get("TANGO_SIGTERM_RUNS", "20"))
    with tempfile.TemporaryDirectory() as work:
        studio = Studio(work)
        try:
            check_readings(studio)
            check_writes_and_off(studio)
            check_events_and_states(studio)
        finally:
            rc = studio.stop()
        if rc != 0:
            fail(f"exit code {rc}\n" + open(f"{work}/studio.log").read()[-4000:])
    with tempfile.TemporaryDirectory() as work:
        check_read_only(work)
    with tempfile.TemporaryDirectory() as work:
        check_signal_busy(work, runs, signal.SIGTERM)
        # TANGO resets SIGINT when it starts: Ctrl+C must still close the program.
        check_signal_busy(work, 5, signal.SIGINT)


if __name__ == "__main__":
    main()
