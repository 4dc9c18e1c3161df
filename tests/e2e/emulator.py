#!/usr/bin/python3
"""Plays a thermostat and an adapter to the real program over the device-emulator
socket, knowing only the message format: checks every byte the program writes
for the selection (setpoint, readiness band, temperature), answers them and
reads the answered values back from the window through AT-SPI.

  emulator.py CALORIX XWIN

Runs itself under xvfb-run and dbus-run-session, through desktop.py. Must run
with Debian's /usr/bin/python3: pyatspi is its package.
"""
import json
import os
import select
import socket
import sys
import time

import desktop
from desktop import Failure, field, find, number, step, wait_for

work = desktop.enter_session("calorix-emulator-", sys.argv[2], timeout=150)
BIN = os.path.abspath(sys.argv[1])
REPORT = 65  # both report lengths of the emulated devices, report ID included


def recv(conn, timeout=10.0):
    r, _, _ = select.select([conn], [], [], timeout)
    return conn.recv(70000) if r else None


def output_report(packet, dev_id):
    """The report carried by an O packet for dev_id, or None."""
    if not packet or packet[0] != 0x4F:
        return None
    n = packet[1]
    if packet[2:2 + n].decode(errors="replace") != dev_id:
        return None
    return packet[2 + n:]


def input_packet(dev_id, line):
    ident = dev_id.encode()
    return b"I" + bytes([len(ident)]) + ident + line.ljust(REPORT - 1, b"\0")


def expect_request(conn, dev_id, line):
    """The next report for dev_id must be report ID 0, the request line, zeros."""
    report = output_report(recv(conn), dev_id)
    want = b"\0" + line + bytes(REPORT - 1 - len(line))
    if report != want:
        raise Failure(f"expected the request {line!r} in a {REPORT}-byte report, got {report!r}")


def answer_polls(conn, dev_id, answers):
    """Answers every request of dev_id that comes within a moment, from answers
    (request line -> answer line); the poll goes on while the test waits."""
    while True:
        packet = recv(conn, 0.05)
        if packet is None:
            return
        report = output_report(packet, dev_id)
        if report is None:
            continue
        line = report[1:].rstrip(b"\0")
        if line in answers:
            conn.send(input_packet(dev_id, answers[line]))


def test():
    path = os.path.join(work, "hid.sock")
    srv = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    srv.bind(path)
    srv.listen(1)
    srv.settimeout(30)
    # No window manager: nothing here is clicked or typed. The accessibility
    # bus must be up before the program looks for it.
    desktop.pyatspi.Registry.getDesktop(0)
    desktop.start_program(BIN, "--hid-emulator=" + path, log=os.path.join(work, "out.log"),
                          cwd=work)
    conn, _ = srv.accept()

    step("malformed messages first: they must not disturb anything")
    for bad in [b"Z", b"A{not json", b"R", b"Iunknown", b"A" + json.dumps({"id": "x"}).encode()]:
        conn.send(bad)

    step("a thermostat: the selection reads setpoint, readiness band, temperature")
    thermo = {"id": "t1", "manufacturer": "Norvik", "product": "USB Thermostat",
              "serial": "EMU-1", "input_report_length": REPORT,
              "output_report_length": REPORT, "numbered_reports": False}
    conn.send(b"A" + json.dumps(thermo).encode())
    answers = {b":00000000 set.val rd\r": b"00000000 0 37.50\r",
               b":00000000 rdy rd\r": b"00000000 0 0.1\r",
               b":00000000 dat.t rd\r": b"00000000 0 36.60\r"}
    for line, reply in answers.items():
        expect_request(conn, "t1", line)
        conn.send(input_packet("t1", reply))

    step("the answered values in the window")
    desktop.wait_for_main_window()

    def shown(name, value):
        answer_polls(conn, "t1", answers)
        return number(field(name)) == value
    wait_for(lambda: find("label", "Термостат: EMU-1"), "the emulated thermostat selected")
    wait_for(lambda: shown("Уставка, °C", 37.5), "the setpoint 37.50 in the window")
    wait_for(lambda: shown("Температура, °C", 36.6), "the temperature 36.60 in the window")

    step("an adapter: its set-up report comes when it is selected")
    conn.send(b"R" + b"t1")
    adapter = dict(thermo, id="a1", product="USB-HID Adapter", serial="EMU-2")
    conn.send(b"A" + json.dumps(adapter).encode())
    setup = None
    deadline = time.monotonic() + 10
    while setup is None and time.monotonic() < deadline:
        setup = output_report(recv(conn), "a1")  # late requests of t1 are skipped
    if setup is None or setup[1:3] != b"\0\0" or setup[3:7] != bytes([0x62, 0x77, 0x80, 0x25]):
        raise Failure(f"the adapter set-up report, got {setup!r}")
    first = output_report(recv(conn), "a1")
    line = b":00000000 set.val rd\r"
    if first is None or first[1] != len(line) or first[5:5 + len(line)] != line:
        raise Failure(f"adapter framing: count field and payload from byte 5, got {first!r}")

    step("the emulator goes away: the program runs on and closes cleanly")
    conn.close()
    wait_for(lambda: find("label", "Термостат: не выбран"), "the devices to go away")
    if desktop.prog.poll() is not None:
        raise Failure("the program ended without the emulator")
    desktop.close_window()
    try:
        desktop.prog.wait(20)
    except Exception:
        raise Failure("the program did not close on the close request")
    if desktop.prog.returncode != 0:
        raise Failure(f"exit status {desktop.prog.returncode}")
    desktop.check_log_clean()
    srv.close()


desktop.main(test, "e2e_emulator")
