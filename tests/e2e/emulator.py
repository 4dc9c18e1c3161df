#!/usr/bin/env python3
"""Plays a thermostat and an adapter to the real program over the device-emulator
socket, knowing only the message format: checks the bytes the program writes,
answers them and sees the answers in the window's settings file at close."""
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import time

BIN, XWIN = sys.argv[1], sys.argv[2]
TITLE = "Calorix v3.0 - Норвик"
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def recv(conn, timeout=10.0):
    r, _, _ = select.select([conn], [], [], timeout)
    if not r:
        return None
    return conn.recv(70000)


def output_report(packet, dev_id):
    """The line carried by an O packet for dev_id, or None."""
    if not packet or packet[0] != 0x4F:
        return None
    n = packet[1]
    if packet[2:2 + n].decode() != dev_id:
        return None
    return packet[2 + n:]


def input_packet(dev_id, report):
    ident = dev_id.encode()
    return b"I" + bytes([len(ident)]) + ident + report


work = tempfile.mkdtemp()
path = os.path.join(work, "hid.sock")
srv = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
srv.bind(path)
srv.listen(1)
env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
env.pop("QT_QPA_PLATFORM", None)
# The program's messages go to a file, read at the end: a pipe nobody reads
# could fill and block it.
log = open(os.path.join(work, "out.log"), "w+b")
prog = subprocess.Popen([BIN, "--hid-emulator=" + path], cwd=work, env=env,
                        stdout=log, stderr=subprocess.STDOUT)
try:
    srv.settimeout(20)
    conn, _ = srv.accept()
    # Malformed messages first: they must not disturb anything.
    for bad in [b"Z", b"A{not json", b"R", b"Iunknown", b"A" + json.dumps({"id": "x"}).encode()]:
        conn.send(bad)
    thermo = {"id": "t1", "manufacturer": "Norvik", "product": "USB Thermostat", "serial": "EMU-1",
              "input_report_length": 65, "output_report_length": 65, "numbered_reports": False}
    conn.send(b"A" + json.dumps(thermo).encode())
    # The selection reads the setpoint first: ":00000000 set.val rd\r", report ID 0, 65 bytes.
    report = output_report(recv(conn), "t1")
    check(report is not None, "a setpoint read was written to the thermostat")
    if report is not None:
        line = b":00000000 set.val rd\r"
        check(len(report) == 65, "the output report has its whole length")
        check(report[:1 + len(line)] == b"\0" + line, "report ID 0 and the request line")
        check(report[1 + len(line):] == bytes(65 - 1 - len(line)), "zero padding")
        conn.send(input_packet("t1", b"00000000 0 37.50\r".ljust(64, b"\0")))
    # The readiness band, then the temperature: each request line whole.
    for line, answer in [(b":00000000 rdy rd\r", b"00000000 0 0.1\r"),
                         (b":00000000 dat.t rd\r", b"00000000 0 36.60\r")]:
        report = output_report(recv(conn), "t1")
        check(report is not None and report[:1 + len(line)] == b"\0" + line
              and report[1 + len(line):] == bytes(65 - 1 - len(line)),
              "the request %r follows the answer, got %r" % (line, report))
        conn.send(input_packet("t1", answer.ljust(64, b"\0")))
    # An adapter: the set-up report comes only when it is selected, so unplug the thermostat.
    conn.send(b"R" + b"t1")
    adapter = dict(thermo, id="a1", product="USB-HID Adapter", serial="EMU-2")
    conn.send(b"A" + json.dumps(adapter).encode())
    setup = output_report(recv(conn), "a1")
    check(setup is not None and setup[3:7] == bytes([0x62, 0x77, 0x80, 0x25])
          and setup[1:3] == b"\0\0", "the adapter set-up report")
    first = output_report(recv(conn), "a1")
    line = b":00000000 set.val rd\r"
    check(first is not None and first[1] == len(line) and first[5:5 + len(line)] == line,
          "adapter framing: count field and payload from byte 5")
    # Close the socket: the devices go away and the program goes on.
    conn.close()
    time.sleep(1.0)
    check(prog.poll() is None, "the program runs on without the emulator")
    subprocess.run([XWIN, "close", TITLE])
    try:
        prog.wait(20)
    except subprocess.TimeoutExpired:
        prog.kill()
        check(False, "the program closed on the close request")
    check(prog.returncode == 0, "exit status 0")
finally:
    if prog.poll() is None:
        prog.kill()
    srv.close()
    log.seek(0)
    output = log.read().decode(errors="replace")
    log.close()
    check("runtime error" not in output and "AddressSanitizer" not in output,
          "no sanitizer report")
    if failures:
        print(output)

print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
sys.exit(1 if failures else 0)
