#!/usr/bin/python3
"""An experiment script against the real program: PyVISA's pure-Python
backend talks to `calorix --simulate --remote=PORT` under Xvfb over a raw TCP
socket, while a second connection sends garbage and the first goes on.

  remote_pyvisa.py CALORIX XWIN

Must run with Debian's /usr/bin/python3 (python3-pyvisa, python3-pyvisa-py).
Stops by itself after LIMIT seconds.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback

LIMIT = 90
TITLE = "Calorix v3.0 - Норвик"
BIN, XWIN = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])

if "CALORIX_REMOTE_INNER" not in os.environ:
    os.environ["CALORIX_REMOTE_INNER"] = "1"
    os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                           sys.executable, *sys.argv])

import pyvisa  # noqa: E402

from peers import check, failures, free_port  # noqa: E402

deadline = time.monotonic() + LIMIT


def wait_for(what, probe, timeout=20.0):
    end = min(time.monotonic() + timeout, deadline)
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    check(False, what)
    return None


def raw(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.settimeout(10)
    return s


readers = {}


def read_line(s):
    if s not in readers:
        readers[s] = s.makefile("rb")
    return readers[s].readline()


work = tempfile.mkdtemp(prefix="calorix-remote-")
shutil.copy(BIN, os.path.join(work, "calorix"))
env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", XDG_STATE_HOME=work,
           XDG_CONFIG_HOME=work, XDG_DATA_HOME=work)
folder = os.path.join(work, "Calorix")  # the remote files' folder
env.pop("QT_QPA_PLATFORM", None)
port = free_port()
log = open(os.path.join(work, "out.log"), "wb")
prog = subprocess.Popen([os.path.join(work, "calorix"), "--simulate", f"--remote={port}"],
                        cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT)
extra = []
try:
    def connectable():
        try:
            raw(port).close()
            return True
        except OSError:
            return False
    wait_for("the program listens on its port", connectable)

    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET",
                            read_termination="\n", write_termination="\n", timeout=10000)

    idn = wait_for("*IDN? names the selected thermostat",
                   lambda: (lambda a: a if re.fullmatch(r"Calorix,[^,]+,SIM\d+,[\d.]+", a) else None)(
                       inst.query("*IDN?")))
    print("  ", idn)
    t = inst.query("MEAS:TEMP?")
    check(re.fullmatch(r"-?\d+\.\d\d", t) is not None and 5.0 < float(t) < 60.0,
          f"MEASure:TEMPerature? answers a temperature ({t})")
    check(re.fullmatch(r"-?\d+\.\d\d", inst.query(":fetch:temperature?")) is not None,
          "FETCh:TEMPerature? answers the last temperature")

    inst.write("SOUR:TEMP 37.5")
    check(inst.query("TEMP?") == "37.50", "the setpoint written is read back")
    inst.write("TEMP abc")
    check(inst.query("SYST:ERR?") == '-224,"Illegal parameter value;not a setpoint"',
          "an invalid setpoint is -224")
    check(inst.query("TEMP?") == "37.50", "an invalid setpoint writes nothing")

    # A second connection sends garbage and an over-long line; it stays open.
    bad = raw(port)
    bad.sendall(b"\x00\xff\x80garbage ;;\"\n" + b"A" * 5000 + b"\n")
    check(inst.query("FETC:TEMP?") != "", "the first client goes on during the garbage")
    bad.sendall(b"SYST:ERR?;SYST:ERR?\n*IDN?\n")
    errors = read_line(bad)
    check(errors == b'-102,"Syntax error";-223,"Too much data"\n',
          f"the garbage connection has its syntax error and too-much-data in its queue ({errors!r})")
    check(read_line(bad).startswith(b"Calorix,"), "the garbage connection still answers")
    # Eight clients at most: the ninth hears why and is closed.
    extra = [raw(port) for _ in range(6)]
    for s in extra:
        s.sendall(b"*OPC?\n")
        read_line(s)
    ninth = raw(port)
    msg = read_line(ninth)
    check(b"8" in msg and read_line(ninth) == b"", f"the ninth client is refused ({msg!r})")
    for s in extra + [ninth]:
        s.close()

    # A half line and a connection gone in the middle of a query.
    gone = raw(port)
    gone.sendall(b"MEAS:TEMP?\nFETC:TE")
    gone.close()

    # Record, fetch the data, save.
    check(inst.query("REC:POIN?") == "0", "the record starts empty")
    inst.write("REC:STAT ON")
    check(inst.query("REC:STAT?") == "1", "recording is on")
    points = wait_for("samples are recorded",
                      lambda: (lambda n: n if n >= 3 else 0)(int(inst.query("REC:POIN?"))))
    inst.write("RECord:STATe OFF")
    check(inst.query("REC:STAT?") == "0", "recording is off")
    points = int(inst.query("REC:POIN?"))
    data = inst.query("REC:DATA?").split(",")
    check(len(data) == 2 * points, f"RECord:DATA? gives {points} pairs")
    secs = [float(x) for x in data[0::2]]
    check(secs == sorted(secs) and all(re.fullmatch(r"-?\d+\.\d\d", v) for v in data[1::2]),
          "pairs are seconds in order and two-decimal values")
    check(inst.query("REC:DATA? 1,1").split(",") == data[2:4], "RECord:DATA? first,count")
    inst.write("REC:CLE")
    check(inst.query("SYST:ERR?").startswith("-221,"), "clearing unsaved samples is refused")
    path = os.path.join(folder, "run 1.csv")
    inst.write('REC:SAVE "run 1.csv";*OPC?')
    check(inst.read() == "1", "the save ended")
    lines = open(path, "rb").read().split(b"\r\n")
    check(len(lines) == points + 1 and lines[-1] == b"" and
          all(re.fullmatch(rb"\d+:\d\d:\d\d;-?\d+[.,]\d\d", l) for l in lines[:-1]),
          "the measurement file holds every sample")
    inst.write(f"REC:SAVE '{path}'")
    check(inst.query("SYST:ERR?") == '-221,"Settings conflict;file exists"',
          "an existing file is not replaced")
    inst.write("REC:CLE")
    check(inst.query("REC:POIN?;SYST:ERR?") == '0;0,"No error"', "a saved record clears")

    # Temperature programs: none loaded, a missing file refused.
    check(inst.query("PROG:STAT?;PROG:STEP?") == "STOP;0", "no program runs")
    inst.write('PROG:LOAD "none.txt"')
    check(inst.query("SYST:ERR?") == '-221,"Settings conflict;no such file"',
          "a missing program file is refused")
    inst.write(f'PROG:LOAD "{work}/out.log"')
    check(inst.query("SYST:ERR?") == '-221,"Settings conflict;outside the remote folder"',
          "a file outside the folder is refused")

    # A bad command and the error queue.
    inst.write("FOO:BAR 1")
    inst.write("*IDN")
    check(inst.query("SYST:ERR?") == '-113,"Undefined header"', "an unknown header is -113")
    check(inst.query("SYSTem:ERRor:NEXT?") == '-100,"Command error;query only"',
          "the second error follows")
    check(inst.query("SYST:ERR?") == '0,"No error"', "the queue is then empty")
    inst.close()
    bad.close()
    check(prog.poll() is None, "the program is still running")
except Exception as e:  # a time-out or a refused connection is a failure too
    traceback.print_exc()
    failures.append(repr(e))
finally:
    if prog.poll() is None:
        subprocess.run([XWIN, "close", TITLE], check=False)
        try:
            prog.wait(timeout=10)
        except subprocess.TimeoutExpired:
            prog.kill()
            prog.wait()
    log.close()
    if failures:
        sys.stdout.write(open(os.path.join(work, "out.log"), errors="replace").read())
    shutil.rmtree(work, ignore_errors=True)

if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print("all passed")
