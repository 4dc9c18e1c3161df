#!/usr/bin/env python3
"""The real program against a real broker: a mosquitto of the test's own on a
free loopback port, the program with --simulate --mqtt=127.0.0.1:PORT and
setpoint commands allowed in its settings file, and mosquitto_sub and
mosquitto_pub as the lab's other clients. Checks temperatures at the poll
period, the retained state a fresh subscriber gets, a setpoint written through
the broker and read back, publishing going on after the broker restarts, and
the last will after the program is killed.

  mqtt.py CALORIX     (under xvfb-run)
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

BIN = os.path.abspath(sys.argv[1])
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
failures = []
started = time.monotonic()


def step(text):
    print(f"[{time.monotonic() - started:5.1f}s] {text}", flush=True)


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Subscriber:
    """mosquitto_sub in the background; lines (time, topic, payload) as they come."""

    def __init__(self, port, topics, *extra, seconds=30):
        self.lines = []
        self.cond = threading.Condition()
        filters = [a for t in ([topics] if isinstance(topics, str) else topics) for a in ("-t", t)]
        self.proc = subprocess.Popen(
            ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-v", *filters,
             "-W", str(seconds), *extra], stdout=subprocess.PIPE, text=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            topic, _, payload = line.rstrip("\n").partition(" ")
            with self.cond:
                self.lines.append((time.monotonic(), topic, payload))
                self.cond.notify_all()

    def wait(self, pred, what, timeout=20.0):
        """The first line pred accepts; fails naming what was awaited."""
        deadline = time.monotonic() + timeout
        with self.cond:
            seen = 0
            while True:
                for line in self.lines[seen:]:
                    if pred(line[1], line[2]):
                        return line
                seen = len(self.lines)
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and seen == len(self.lines)):
                    raise RuntimeError(f"no {what} within {timeout:.0f}s; got {self.lines[-5:]}")
                self.cond.wait(min(left, 0.5))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait()


def start_broker(conf, port):
    broker = subprocess.Popen([MOSQUITTO, "-c", conf], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return broker
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the broker did not start")


work = tempfile.mkdtemp(prefix="calorix-mqtt-")
port = free_port()
conf = os.path.join(work, "mosquitto.conf")
with open(conf, "w") as f:
    f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
exe = os.path.join(work, "calorix")
shutil.copy(BIN, exe)
# The settings file beside the program: commands on, a prefix of its own.
with open(os.path.join(work, "Calorix.ini"), "w") as f:
    f.write("[MQTT]\r\nPrefix=lab\r\nCommands=1\r\n")
env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, ".config"),
           XDG_STATE_HOME=os.path.join(work, ".state"), ASAN_OPTIONS="detect_leaks=0")
env.pop("QT_QPA_PLATFORM", None)
log = os.path.join(work, "out.log")
broker = prog = None
subs = []
try:
    broker = start_broker(conf, port)
    temps = Subscriber(port, "lab/+/temperature")
    subs.append(temps)
    with open(log, "wb") as out:
        prog = subprocess.Popen([exe, "--simulate", f"--mqtt=127.0.0.1:{port}"], cwd=work,
                                env=env, stdout=out, stderr=subprocess.STDOUT)

    step("temperatures at the poll period")
    first = temps.wait(lambda t, p: True, "temperature", timeout=30)
    serial = first[1].split("/")[1]
    times = [first[0]]
    for _ in range(3):
        times.append(temps.wait(lambda t, p, n=len(times): len(temps.lines) > n, "temperature")[0])
    gaps = [b - a for a, b in zip(times, times[1:])]
    check(all(0.6 < g < 1.6 for g in gaps), f"1 s between temperatures, got {gaps}")
    check(float(first[2]) > -100, f"a temperature, got {first[2]!r}")

    step("retained state on a fresh subscription")
    # Only state topics: --retained-only ends at the first message that is not retained.
    fresh = Subscriber(port, [f"lab/+/{leaf}" for leaf in
                              ("online", "setpoint", "protection", "recording", "program")]
                       + ["lab/clients/+/status"], "--retained-only", "-C", "6", seconds=10)
    fresh.proc.wait()
    fresh.reader.join()
    got = {t: p for _, t, p in fresh.lines}
    want_topics = {f"lab/{serial}/{leaf}"
                   for leaf in ("online", "setpoint", "protection", "recording", "program")}
    check(want_topics <= set(got), f"retained {sorted(want_topics)}, got {got}")
    check(got.get(f"lab/{serial}/online") == "1", f"online 1, got {got}")
    check(got.get(f"lab/{serial}/recording") == "0", f"recording 0, got {got}")
    check(got.get(f"lab/{serial}/program") == '{"state": "stopped", "step": 0, "name": ""}',
          f"program stopped, got {got}")
    status = [t for t in got if t.startswith("lab/clients/") and t.endswith("/status")]
    check(len(status) == 1 and got[status[0]] == "online", f"client status online, got {got}")

    step("a setpoint through the broker, read back")
    setpoints = Subscriber(port, f"lab/{serial}/setpoint")
    subs.append(setpoints)
    setpoints.wait(lambda t, p: True, "the retained setpoint")
    subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-t",
                    f"lab/{serial}/setpoint/set", "-m", "abc"], check=True)
    subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-t",
                    f"lab/{serial}/setpoint/set", "-m", "31,5"], check=True)
    setpoints.wait(lambda t, p: p == "31.50", "setpoint 31.50")
    check("\"abc\" is not a setpoint" in open(log, errors="replace").read(),
          "a line on standard error for the payload abc")

    step("the broker stopped and started again")
    broker.terminate()
    broker.wait()
    for s in subs:
        s.stop()
    time.sleep(2)
    broker = start_broker(conf, port)
    again = Subscriber(port, "lab/+/temperature")
    subs.append(again)
    again.wait(lambda t, p: True, "a temperature after the restart", timeout=40)
    status_sub = Subscriber(port, "lab/clients/+/status")
    subs.append(status_sub)
    status_sub.wait(lambda t, p: p == "online", "the client status online after the restart")

    step("the last will after SIGKILL")
    prog.send_signal(signal.SIGKILL)
    prog.wait()
    status_sub.wait(lambda t, p: p == "offline", "the client status offline")
    out = open(log, "rb").read().decode(errors="replace")
    check("Sanitizer" not in out and "runtime error" not in out, "no sanitizer report:\n" + out)
except (RuntimeError, OSError, subprocess.SubprocessError, ValueError) as e:
    failures.append(str(e))
    print("FAIL:", e)
finally:
    for s in subs:
        s.stop()
    for p in (prog, broker):
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()
    if failures and os.path.exists(log):
        print("program output:\n" + open(log, errors="replace").read())
    shutil.rmtree(work, ignore_errors=True)
step("done")
print("0 passed, 1 failed" if failures else "1 passed, 0 failed")
sys.exit(1 if failures else 0)
