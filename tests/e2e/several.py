#!/usr/bin/python3
"""Several thermostats in one program: `calorix --simulate=thermostat,thermostat,adapter
--thermostat=SIM0001,SIM0002 --remote=PORT` opens a window per named thermostat;
two experiment scripts (PyVISA) each address one bath, set different setpoints
and read their own back; the overview page lists all three; closing both
windows ends the program.

  several.py CALORIX XWIN                    the test
  several.py CALORIX XWIN --screenshots DIR  the same, leaving overview.png in DIR

Runs itself under xvfb-run and dbus-run-session, through desktop.py. Must run
with Debian's /usr/bin/python3 (pyatspi, python3-pyvisa, python3-pyvisa-py).
"""
import os
import re
import shutil
import sys

import desktop
from desktop import Failure, find, in_window, step, wait_for, window, x_window, xid

args = desktop.take_screenshots_option(sys.argv[1:])
BIN = os.path.abspath(args[0])

work = desktop.enter_session("calorix-several-", args[1])
import pyatspi  # noqa: E402,F401  (only inside the session bus)
import pyvisa  # noqa: E402

EXE = os.path.join(work, "calorix")
BATHS = {"SIM0001": "25.50", "SIM0002": "31.25"}


def title(serial):
    return f"{desktop.TITLE} [{serial}]"


def test():
    shutil.copy(BIN, EXE)  # Calorix.ini is written beside it
    desktop.start_window_manager()
    port = desktop.free_port()
    prog = desktop.start_program(EXE, "--simulate=thermostat,thermostat,adapter",
                                 "--thermostat=SIM0001,SIM0002", f"--remote={port}",
                                 log=os.path.join(work, "out.log"), cwd=work)
    for serial in BATHS:
        wait_for(lambda: x_window(title(serial)), f"the window of {serial}", timeout=30)

    step("two clients, two baths")
    rm = pyvisa.ResourceManager("@py")
    clients = {}
    for serial in BATHS:
        inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=10000)
        clients[serial] = inst
    # A new client addresses the first window's thermostat; the other selects its own.
    clients["SIM0002"].write('SYST:DEV "SIM0002"')
    for serial, inst in clients.items():
        if inst.query("SYST:DEV?") != f'"{serial}"':
            raise Failure(f"the client of {serial} addresses another thermostat")
        t = inst.query("MEAS:TEMP?")
        if not re.fullmatch(r"-?\d+\.\d\d", t):
            raise Failure(f"{serial} measures {t!r}")
    for serial, setpoint in BATHS.items():
        if clients[serial].query(f"TEMP {setpoint};*OPC?") != "1":
            raise Failure(f"the setpoint of {serial} was not written")
    for serial, setpoint in BATHS.items():
        got = clients[serial].query("TEMP?")
        if got != setpoint:
            raise Failure(f"{serial} reads back {got}, not its own {setpoint}")
        errors = clients[serial].query("SYST:ERR?")
        if errors != '0,"No error"':
            raise Failure(f"the client of {serial} has an error: {errors}")
    step(f"read back {BATHS}")
    # A bad setpoint is one client's error only.
    clients["SIM0002"].write("TEMP abc")
    if clients["SIM0001"].query("SYST:ERR?") != '0,"No error"':
        raise Failure("one client's error reached the other")
    if not clients["SIM0002"].query("SYST:ERR?").startswith("-224,"):
        raise Failure("the bad setpoint is not its client's error")
    for inst in clients.values():
        inst.close()

    step("the overview lists every thermostat")
    first = title("SIM0001")
    desktop.run("xdotool", "windowactivate", "--sync", wait_for(lambda: xid(first), "its X id"))
    tab = wait_for(lambda: in_window(first, "page tab", "Обзор"), "the page 'Обзор'")
    desktop.click(tab)
    for serial in ("SIM0001", "SIM0002", "SIM0003"):
        wait_for(lambda: find("table cell", serial, within=window(first)),
                 f"the overview's row of {serial}", timeout=20)
    desktop.screenshot("overview.png", xid(first))

    step("closing both windows ends the program")
    desktop.close_window(first)
    # The window left alone loses its serial from its title.
    wait_for(lambda: x_window(desktop.TITLE), "the title of the one window left")
    desktop.close_window(desktop.TITLE)
    wait_for(lambda: prog.poll() is not None, "the program to end", timeout=20)
    if prog.returncode != 0:
        raise Failure(f"the program ended with status {prog.returncode}")
    desktop.check_log_clean()


desktop.main(test, "e2e_several")
