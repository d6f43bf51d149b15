#!/usr/bin/python3
"""The program with a TANGO database: a private MariaDB and DataBaseds on
loopback ports, started and stopped by this script (their processes die with
it). Checks registration on the first start, a client that finds a channel by
name, a second start of a running instance, an unreachable database, and
restarts after a clean stop and after a kill.
Exits 77 (skipped) without python3-tango, tango-db or mariadb-server.
Usage: tango_database.py SIM STUDIO"""
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from tango_devices import Studio, fail, free_port, wait_for  # exits 77 without python3-tango

import tango

DATABASE_DS = "/usr/lib/tango/DataBaseds"
SCHEMA = "/usr/share/dbconfig-common/data/tango-db/install/mysql"
INSTANCE = "dbtest"
SERVER = "CorvaneStudio/" + INSTANCE
DEVICES = [f"corvane/{INSTANCE}/ch{n}" for n in range(1, 11)] + [f"corvane/{INSTANCE}/studio"]


def tools():
    """The programs a database needs, or None with the missing one's name."""
    found = {name: shutil.which(name) for name in ("mariadb-install-db", "mariadb", "tango_admin")}
    found["mariadbd"] = shutil.which("mariadbd") or shutil.which("mysqld") or shutil.which("mariadbd", path="/usr/sbin")
    found["DataBaseds"] = DATABASE_DS if os.access(DATABASE_DS, os.X_OK) else None
    found["schema"] = SCHEMA if os.path.exists(SCHEMA) else None
    missing = [name for name, path in found.items() if not path]
    return found, missing


def die_with_parent():
    # A database left running by a test killed at its time-out would hold its ports and files.
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Database:
    """MariaDB with the TANGO schema in a scratch folder, and DataBaseds over it."""

    def __init__(self, work, found):
        self.procs = []
        data, sock, self.log = f"{work}/mysql", f"{work}/mysql.sock", f"{work}/database.log"
        as_root = ["--user=root"] if os.geteuid() == 0 else []
        with open(self.log, "w") as log:
            subprocess.run([found["mariadb-install-db"], "--no-defaults", *as_root, f"--datadir={data}",
                            "--auth-root-authentication-method=normal", "--skip-test-db"],
                           stdout=log, stderr=subprocess.STDOUT, check=True)
        sql_port, self.port = free_port(), free_port()
        self.spawn([found["mariadbd"], "--no-defaults", *as_root, f"--datadir={data}", f"--socket={sock}",
                    f"--port={sql_port}", "--bind-address=127.0.0.1", f"--pid-file={work}/mysql.pid",
                    f"--log-error={work}/mysql.err"])
        client = [found["mariadb"], "--no-defaults", f"--socket={sock}", "-uroot"]
        wait_for("MariaDB", lambda: subprocess.run(client + ["-e", "select 1"], capture_output=True).returncode == 0)
        grant = ("CREATE DATABASE tango; CREATE USER 'tango'@'127.0.0.1' IDENTIFIED BY 'tango'; "
                 "GRANT ALL ON tango.* TO 'tango'@'127.0.0.1';")
        subprocess.run(client + ["-e", grant], check=True)
        with open(SCHEMA) as schema:
            subprocess.run(client + ["tango"], stdin=schema, check=True, capture_output=True)
        self.host = f"127.0.0.1:{self.port}"
        env = dict(os.environ, MYSQL_USER="tango", MYSQL_PASSWORD="tango", MYSQL_HOST=f"127.0.0.1:{sql_port}",
                   MYSQL_DATABASE="tango", TANGO_HOST=self.host)
        self.spawn([found["DataBaseds"], "2", "-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}"], env=env)
        # The test's own client finds devices through this database.
        os.environ["TANGO_HOST"] = self.host
        wait_for("DataBaseds", lambda: tango.Database("127.0.0.1", self.port).get_info())
        self.db = tango.Database("127.0.0.1", self.port)

    def spawn(self, args, env=None):
        with open(self.log, "a") as log:
            self.procs.append(subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT,
                                               preexec_fn=die_with_parent))

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def exported(db):
    return sorted(db.get_device_exported(f"corvane/{INSTANCE}/*").value_string)


def check_first_start(db, work):
    if SERVER in db.db.get_server_list().value_string:
        fail(f"{SERVER} registered before the first start")
    os.makedirs(f"{work}/first")
    studio = Studio(f"{work}/first", tango_host=db.host, instance=INSTANCE)
    try:
        wait_for("the devices exported", lambda: exported(db.db) == sorted(DEVICES), found=lambda: str(exported(db.db)))
        if SERVER not in db.db.get_server_list().value_string:
            fail(f"{SERVER} is not in the server list")
        classes = db.db.get_device_class_list(SERVER).value_string
        registered = dict(zip(classes[::2], classes[1::2]))
        wanted = {name: "CorvaneStudio" if name.endswith("/studio") else "CorvaneChannel" for name in DEVICES}
        wanted[f"dserver/{SERVER}"] = "DServer"
        if registered != wanted:
            fail(f"registered {registered}")
    except BaseException:
        studio.stop()
        raise
    return studio


def check_read_by_name(studio):
    """A client finds the devices through the database alone (fresh proxies: no cached address)."""
    def by_name(member):
        return tango.DeviceProxy(f"corvane/{INSTANCE}/{member}")
    wait_for("ch1 by name", lambda: by_name("ch1").state() in (tango.DevState.ON, tango.DevState.OFF))
    wait_for("ch1 temperature as the panel's",
             lambda: abs(by_name("ch1").temperature - float(studio.scpi("CHAN1:MEAS:TEMP?"))) < 1e-9)
    wait_for("the program device by name", lambda: by_name("studio").state() in (tango.DevState.ON, tango.DevState.OFF))


def check_refused_start(work, tango_host, instance, why):
    """A start that cannot serve says why and the program goes on: SCPI answers, SIGTERM exits 0."""
    os.makedirs(work)
    studio = Studio(work, tango_host=tango_host, instance=instance)
    try:
        wait_for(f"the message {why!r}", lambda: why in studio.output(), found=studio.output)
        time.sleep(0.5)
        if studio.proc.poll() is not None:
            fail(f"the program ended ({studio.proc.returncode}) after: {studio.output()[-1000:]}")
        # The program works on without TANGO: connected to its boards, readings served.
        wait_for("SCPI connected", lambda: studio.scpi("SYST:CONN?") == "1", found=studio.output)
        wait_for("a reading over SCPI", lambda: float(studio.scpi("CHAN1:MEAS:TEMP?")) > 0, found=studio.output)
    finally:
        rc = studio.stop()
    if rc != 0:
        fail(f"exit code {rc} after a refused TANGO start:\n{studio.output()[-2000:]}")
    if os.path.exists(f"{work}/touched"):
        fail(f"the instance name {instance!r} ran as a shell command")


def check_restart(work, db, how):
    os.makedirs(f"{work}/{how}")
    studio = Studio(f"{work}/{how}", tango_host=db.host, instance=INSTANCE)
    try:
        check_read_by_name(studio)
    finally:
        if how == "kill":
            studio.proc.kill()
            studio.proc.wait()
        rc = studio.stop()
    if how != "kill" and rc != 0:
        fail(f"exit code {rc} after serving through the database:\n{studio.output()[-2000:]}")


def main():
    found, missing = tools()
    if missing:
        print("tango_database: skipped, missing " + ", ".join(missing) +
              " (packages tango-db, mariadb-server, libtango-tools)")
        sys.exit(77)
    started = time.monotonic()
    with tempfile.TemporaryDirectory() as work:
        db = Database(work, found)
        try:
            print(f"tango_database: database up in {time.monotonic() - started:.1f} s")
            first = check_first_start(db, work)
            try:
                check_read_by_name(first)
                print("tango_database: first start registers the server and its devices; a client finds ch1 by name")
                cases = [
                    ("second", db.host, INSTANCE, f"{SERVER} runs already"),
                    ("unreachable", f"127.0.0.1:{free_port()}", INSTANCE, "does not answer"),
                    ("bad-name", db.host, "x;touch\ttouched", "may hold only letters"),
                ]
                for name, host, instance, why in cases:
                    check_refused_start(f"{work}/{name}", host, instance, why)
                    print(f"tango_database: {name} start: {why!r}, the program goes on and exits 0")
                check_read_by_name(first)  # the first instance still serves
            finally:
                rc = first.stop()
            if rc != 0:
                fail(f"first instance exit code {rc}:\n{first.output()[-2000:]}")
            for how in ("clean", "kill", "after-kill"):
                check_restart(work, db, how)
            print("tango_database: restarts after a clean stop and after a kill serve again")
        finally:
            db.stop()
    print(f"tango_database: done in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    main()
