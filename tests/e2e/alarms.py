#!/usr/bin/env python3
"""A bath's protection alarm reaching the lab, end to end: the real program
with a thermostat played over the device-emulator socket, its SCPI port open
and publishing to a mosquitto of the test's own, on a session bus of its own
(dbus-run-session) watched by dbus-monitor. A protection bit set by the
emulator raises "protection" on SCPI and on the retained alarm topic within two
polls and sends one desktop notification; STATus:ALARm:ACKnowledge empties
"unacknowledged"; the bit cleared empties "active". Every wait is for an event.

  alarms.py CALORIX     (under xvfb-run and dbus-run-session)
"""
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

from peers import Remote, check, failures, free_port, start_broker, step

BIN = os.path.abspath(sys.argv[1])
REPORT = 65
TOPIC = "lab/EMU-1/alarm"


class Lines:
    """A child's output lines as they come; wait() for the next one that fits."""

    def __init__(self, argv, parse):
        self.lines, self.next, self.cond = [], 0, threading.Condition()
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
        self.parse = parse
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(self.parse(line.rstrip("\n")))
                self.cond.notify_all()

    def wait(self, pred, what, timeout=60.0):
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                while self.next < len(self.lines):
                    line = self.lines[self.next]
                    self.next += 1
                    if pred(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError(f"no {what} within {timeout:.0f}s; got {self.lines[-5:]}")
                self.cond.wait(min(left, 0.5))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait()


class Thermostat(threading.Thread):
    """The emulated thermostat EMU-1: answers every request; counts the polls
    of the protection status answered since the flags last changed."""

    def __init__(self, conn):
        super().__init__(daemon=True)
        self.conn, self.flags, self.polls, self.lock = conn, "000000", 0, threading.Lock()
        self.running = True

    def set_flags(self, flags):
        with self.lock:
            self.flags, self.polls = flags, 0

    def run(self):
        ident = b"t1"
        while self.running:
            r, _, _ = select.select([self.conn], [], [], 0.2)
            if not r:
                continue
            packet = self.conn.recv(70000)
            if not packet:
                return
            if packet[0] != 0x4F or packet[2:2 + packet[1]] != ident:
                continue
            line = packet[2 + packet[1]:][1:].rstrip(b"\0")
            with self.lock:
                answers = {b":00000000 set.val rd\r": b"37.50", b":00000000 rdy rd\r": b"0.1",
                           b":00000000 dat.t rd\r": b"37.48",
                           b":00000000 alm.status rd\r": self.flags.encode()}
                if line == b":00000000 alm.status rd\r":
                    self.polls += 1
            value = answers.get(line)
            if value is not None:
                reply = b"00000000 0 " + value + b"\r"
                self.conn.send(b"I" + bytes([len(ident)]) + ident + reply.ljust(REPORT - 1, b"\0"))


def main():
    work = tempfile.mkdtemp(prefix="calorix-alarms-")
    broker_port, remote_port = free_port(), free_port()
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
    broker = start_broker(conf, broker_port)
    # The settings file beside the program: a topic prefix of its own.
    exe = os.path.join(work, "calorix")
    shutil.copy(BIN, exe)
    with open(os.path.join(work, "Calorix.ini"), "w") as f:
        f.write("[MQTT]\r\nPrefix=lab\r\n")
    # Every Notify call on this session bus, as dbus-monitor prints it.
    monitor = Lines(["dbus-monitor", "--session",
                     "type='method_call',interface='org.freedesktop.Notifications'"],
                    lambda line: line)
    sock_path = os.path.join(work, "hid.sock")
    srv = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    srv.bind(sock_path)
    srv.listen(1)
    srv.settimeout(60)
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", HOME=work, XDG_CONFIG_HOME=work,
               XDG_STATE_HOME=work, XDG_DATA_HOME=work)
    env.pop("QT_QPA_PLATFORM", None)
    log = open(os.path.join(work, "out.log"), "wb")
    prog = subprocess.Popen([exe, "--hid-emulator=" + sock_path, f"--remote={remote_port}",
                             f"--mqtt=127.0.0.1:{broker_port}"],
                            cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT)
    sub = None
    try:
        conn, _ = srv.accept()
        thermo = {"id": "t1", "manufacturer": "Norvik", "product": "USB Thermostat",
                  "serial": "EMU-1", "input_report_length": REPORT,
                  "output_report_length": REPORT, "numbered_reports": False}
        conn.send(b"A" + json.dumps(thermo).encode())
        bath = Thermostat(conn)
        bath.start()
        remote = Remote(remote_port)
        step("the thermostat selected, no alarm")
        deadline = time.monotonic() + 60
        while remote.query("SYST:DEV?") != '"EMU-1"' and time.monotonic() < deadline:
            time.sleep(0.1)  # the selection comes from the emulator's announcement
        check(remote.query("STAT:ALAR?;STAT:ALAR:UNACK?") == '"";""', "no alarm at first")
        sub = Lines(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker_port), "-v",
                     "-t", TOPIC], lambda line: line.partition(" ")[2])
        sub.wait(lambda p: json.loads(p)["active"] == [], "the retained state without alarms")

        step("a protection bit: raised within two polls")
        bath.set_flags("000001")
        raised = json.loads(sub.wait(lambda p: json.loads(p)["active"] == ["protection"],
                                     "the alarm on the topic"))
        with bath.lock:
            polls = bath.polls
        check(1 <= polls <= 2, f"raised within two polls of the status ({polls})")
        check(raised["unacknowledged"] == ["protection"] and raised["since"].endswith("Z"),
              f"unacknowledged and since in UTC ({raised})")
        check(remote.query("STATus:ALARm?") == '"protection"', "STATus:ALARm? names it")
        check(remote.query("STAT:ALAR:UNACK?") == '"protection"', "unacknowledged over SCPI")
        retained = Lines(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker_port), "-t", TOPIC,
                          "-C", "1", "-W", "30"], lambda line: line)
        check(json.loads(retained.wait(lambda p: True, "the retained alarm"))["active"] ==
              ["protection"], "a new subscriber gets the alarm retained")
        monitor.wait(lambda line: "Тревога термостата EMU-1" in line,
                     "a desktop notification naming the thermostat")

        step("acknowledged over SCPI")
        check(remote.query("STATus:ALARm:ACKnowledge;STAT:ALAR:UNACK?;STAT:ALAR?") ==
              '"";"protection"', "ACKnowledge empties unacknowledged, it stays active")
        acked = json.loads(sub.wait(lambda p: json.loads(p)["unacknowledged"] == [],
                                    "the acknowledgement on the topic"))
        check(acked["active"] == ["protection"], f"still active on the topic ({acked})")

        step("the bit cleared")
        bath.set_flags("000000")
        cleared = json.loads(sub.wait(lambda p: json.loads(p)["active"] == [],
                                      "the clearing on the topic"))
        check(cleared == {"active": [], "unacknowledged": [], "since": None},
              f"cleared and acknowledged: the list is empty ({cleared})")
        check(remote.query("STAT:ALAR?;STAT:ALAR:UNACK?;SYST:ERR?") == '"";"";0,"No error"',
              "nothing over SCPI, no error")
        check(prog.poll() is None, "the program is still running")
        bath.running = False
    except Exception as e:  # a time-out is a failure too
        failures.append(repr(e))
        print("FAIL", repr(e), flush=True)
    finally:
        if prog.poll() is None:
            prog.terminate()
            try:
                prog.wait(timeout=20)
            except subprocess.TimeoutExpired:
                prog.kill()
                prog.wait()
        for p in (sub, monitor):
            if p:
                p.stop()
        broker.terminate()
        broker.wait()
        log.close()
    if failures:
        print(open(os.path.join(work, "out.log"), errors="replace").read())
        print("FAILED:", *failures, sep="\n  ")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("e2e_alarms: ok")
    return 0


sys.exit(main())
