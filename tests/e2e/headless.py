#!/usr/bin/python3
"""The headless service end to end, with no display at all (DISPLAY,
WAYLAND_DISPLAY and QT_QPA_PLATFORM unset): `calorix --headless
--simulate=thermostat,adapter --remote=PORT --mqtt=127.0.0.1:PORT` against a
mosquitto of the test's own and two PyVISA clients. Both thermostats are
recorded to their data files, each client addresses its own thermostat,
SIGTERM ends the program with status 0, the broker told it is offline and
every file complete, its metadata file holding its checksum; a SIGKILL of a
second run leaves whole lines only.
Every wait is for an event (a line, a message, an answer, a file), never a time.

  headless.py CALORIX

Must run with Debian's /usr/bin/python3 (python3-pyvisa, python3-pyvisa-py).
"""
import glob
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import pyvisa

from peers import check, connectable, failures, free_port, start_broker, step

BIN = os.path.abspath(sys.argv[1])
SERIALS = ("SIM0001", "SIM0002")  # --simulate=thermostat,adapter numbers them so
LINE = re.compile(rb"\d+:\d\d:\d\d;-?\d+[.,]\d\d\r\n")


def wait_for(what, probe, timeout=60.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    raise RuntimeError(f"timed out waiting for {what}")


def data_files(serial):
    return sorted(glob.glob(os.path.join(data, serial, f"{serial}_*.csv")))


def lines_of(paths):
    """The lines of the files one after another; None when one has a partial line."""
    lines = []
    for p in paths:
        content = open(p, "rb").read()
        if content and not content.endswith(b"\r\n"):
            return None
        lines += [l + b"\r\n" for l in content.split(b"\r\n")[:-1]]
    return lines


def retained(port, topic):
    out = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-v", "-t", topic,
                          "--retained-only", "-C", "1", "-W", "10"], capture_output=True, text=True)
    return out.stdout.strip()


work = tempfile.mkdtemp(prefix="calorix-headless-")
data = os.path.join(work, "data")
ini = os.path.join(work, "service.ini")
with open(ini, "w") as f:
    f.write(f"; the service's settings\r\n[Headless]\r\nDataFolder={data}\r\n")
ini_bytes = open(ini, "rb").read()
port, broker_port = free_port(), free_port()
conf = os.path.join(work, "mosquitto.conf")
with open(conf, "w") as f:
    f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, ".config"),
           XDG_STATE_HOME=os.path.join(work, ".state"),
           XDG_DATA_HOME=os.path.join(work, ".data"), ASAN_OPTIONS="detect_leaks=0")
for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
    env.pop(name, None)
args = [BIN, "--headless", f"--config={ini}", "--simulate=thermostat,adapter",
        f"--remote={port}", f"--mqtt=127.0.0.1:{broker_port}"]
broker = prog = None
log_path = os.path.join(work, "stderr.log")
try:
    broker = start_broker(conf, broker_port)
    with open(log_path, "wb") as log:
        prog = subprocess.Popen(args, cwd=work, env=env, stdout=log, stderr=log)
    wait_for("the program's port", lambda: connectable(port))

    step("each client addresses its own thermostat")
    rm = pyvisa.ResourceManager("@py")
    clients = {}
    for serial in SERIALS:
        inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=10000)
        inst.write(f'SYST:DEV "{serial}"')
        idn = inst.query("*IDN?")
        check(idn.split(",")[2:3] == [serial], f"client of {serial}: *IDN? {idn}")
        check(inst.query("REC:STAT?") == "1", f"{serial} is recorded since it was found")
        clients[serial] = inst
    clients[SERIALS[1]].write("SOUR:TEMP 31.5")
    check(clients[SERIALS[1]].query("TEMP?") == "31.50"
          and clients[SERIALS[0]].query("TEMP?") != "31.50",
          "a setpoint reaches the client's own thermostat only")

    step("both recorded to their files")
    for serial in SERIALS:
        wait_for(f"three whole samples in the file of {serial}",
                 lambda: len(lines_of(data_files(serial)) or []) >= 3)
    topics = retained(broker_port, "calorix/clients/+/status")
    check(topics.endswith(" online"), f"the client is online at the broker ({topics})")
    status_topic = topics.split(" ")[0]
    points = {s: int(clients[s].query("REC:POIN?")) for s in SERIALS}
    for inst in clients.values():
        inst.close()

    step("SIGTERM")
    t0 = time.monotonic()
    prog.send_signal(signal.SIGTERM)
    code = prog.wait(timeout=60)
    stop = time.monotonic() - t0
    # How long it took is printed, not judged: a loaded machine must not fail it.
    check(code == 0, f"SIGTERM ends it with status 0 (got {code}, after {stop:.1f}s)")
    for serial in SERIALS:
        files = data_files(serial)
        lines = lines_of(files)
        check(len(files) == 1 and lines is not None and len(lines) >= points[serial]
              and all(LINE.fullmatch(l) for l in lines),
              f"{serial}: one complete file holding its {points[serial]} samples and more "
              f"({len(lines or [])} lines)")
        for path in files:
            meta = path[:-len(".csv")] + ".meta.json"
            digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
            recorded = json.load(open(meta)).get("csv_sha256") if os.path.exists(meta) else None
            check(recorded == digest, f"{os.path.basename(meta)}: the checksum of the finished "
                  f"file ({recorded})")
    check(retained(broker_port, status_topic) == f"{status_topic} offline",
          "the broker was told the client is offline")
    check(open(ini, "rb").read() == ini_bytes, "the settings file is never written")
    log_text = open(log_path, encoding="utf-8", errors="replace").read()
    check(all(f"{s}: " in log_text for s in SERIALS),
          f"log lines name each thermostat:\n{log_text}")

    step("SIGKILL of a second run")
    with open(log_path, "wb") as log:
        prog = subprocess.Popen(args, cwd=work, env=env, stdout=log, stderr=log)
    wait_for("a file of the second run with samples",
             lambda: len(data_files(SERIALS[0])) == 2 and
             len(lines_of(data_files(SERIALS[0])[-1:]) or []) >= 2)
    prog.kill()
    prog.wait()
    for serial in SERIALS:
        lines = lines_of(data_files(serial))
        check(lines is not None and all(LINE.fullmatch(l) for l in lines),
              f"{serial}: whole lines only after the kill")
except Exception as e:  # a time-out or a refused connection is a failure too
    traceback.print_exc()
    failures.append(repr(e))
finally:
    for p in (prog, broker):
        if p and p.poll() is None:
            p.kill()
            p.wait()
    if failures:
        print(open(log_path, encoding="utf-8", errors="replace").read()
              if os.path.exists(log_path) else "", flush=True)
    else:
        shutil.rmtree(work, ignore_errors=True)
print("FAILED: " + "; ".join(failures) if failures else "PASSED", flush=True)
sys.exit(1 if failures else 0)
