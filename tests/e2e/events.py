#!/usr/bin/python3
"""The event log kept with the data: a setpoint written through the window and
one written by an experiment script (PyVISA), then `RECord:SAVE`. The metadata
file beside the measurement file names both, each with who wrote it, and its
checksum is the one `sha256sum` gives for the file.

  events.py CALORIX XWIN

Runs itself under xvfb-run and dbus-run-session, through desktop.py. Must run
with Debian's /usr/bin/python3 (pyatspi, python3-pyvisa, python3-pyvisa-py).
"""
import json
import os
import re
import shutil
import subprocess
import sys

import desktop
from desktop import Failure, step, wait_for

BIN = os.path.abspath(sys.argv[1])
work = desktop.enter_session("calorix-events-", sys.argv[2])
import pyatspi  # noqa: E402,F401  (only inside the session bus)
import pyvisa  # noqa: E402

EXE = os.path.join(work, "calorix")
FOLDER = os.path.join(work, "home", ".local", "share", "Calorix")  # the remote files' folder


def test():
    shutil.copy(BIN, EXE)  # Calorix.ini is written beside it
    desktop.start_window_manager()
    port = desktop.free_port()
    prog = desktop.start_program(EXE, "--simulate", f"--remote={port}",
                                 log=os.path.join(work, "out.log"), cwd=work)
    desktop.wait_for_main_window()

    step("a setpoint through the window")
    desktop.change_setpoint("37.5")

    step("a setpoint from a script, then RECord:SAVE")
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET", read_termination="\n",
                            write_termination="\n", timeout=10000)
    inst.write("REC:STAT ON")
    if inst.query("TEMP 25.50;*OPC?") != "1":
        raise Failure("the script's setpoint was not written")
    wait_for(lambda: int(inst.query("REC:POIN?")) >= 2, "two samples recorded", timeout=20)
    inst.write("REC:STAT OFF")  # saved as it stands: closing asks nothing
    if inst.query('REC:SAVE "run.csv";*OPC?') != "1":
        raise Failure("RECord:SAVE did not finish")
    errors = inst.query("SYST:ERR?")
    if errors != '0,"No error"':
        raise Failure(f"the script has an error: {errors}")
    inst.close()

    step("the metadata file beside it")
    csv = os.path.join(FOLDER, "run.csv")
    with open(os.path.join(FOLDER, "run.meta.json"), encoding="utf-8") as f:
        meta = json.load(f)
    digest = subprocess.run(["sha256sum", csv], check=True, capture_output=True,
                            text=True).stdout.split()[0]
    if meta["csv_sha256"] != digest:
        raise Failure(f"the checksum {meta['csv_sha256']} is not sha256sum's {digest}")
    if meta["thermostat"]["serial"] != "SIM0001" or meta["samples"] < 2:
        raise Failure(f"the run's metadata is wrong: {meta['thermostat']}, {meta['samples']}")
    written = [(e["source"], e["values"]["new"]) for e in meta["events"]
               if e["kind"] == "setpoint"]
    if len(written) != 2 or written[0] != ("user", 37.5) or written[1][1] != 25.5 or \
            not re.fullmatch(r"remote 127\.0\.0\.1:\d+", written[1][0]):
        raise Failure(f"the setpoint events are {written}")
    step(f"setpoints {written}, checksum {digest[:12]}...")

    step("closing the window ends the program")
    desktop.close_window()
    # The record was saved: nothing is asked.
    wait_for(lambda: prog.poll() is not None, "the program to end", timeout=20)
    if prog.returncode != 0:
        raise Failure(f"the program ended with status {prog.returncode}")
    desktop.check_log_clean()


desktop.main(test, "e2e_events")
