#!/usr/bin/env python3
"""The real program against a real broker: a mosquitto of the test's own on a
free loopback port (with a login for the program, anonymous for the test's
own clients), the program with --simulate --mqtt=127.0.0.1:PORT, setpoint
commands allowed in its settings file and its remote-control port open, and
mosquitto_sub and mosquitto_pub as the lab's other clients. Checks successive
readings, the retained state a fresh subscriber gets, a setpoint written
through the broker and read back, the retained state published again after the
broker restarts and the readings polled while it was away delivered after it,
and the last will after the program is killed. Every wait is for an event
(a message, an answer), never for a time.

  mqtt.py CALORIX     (under xvfb-run)
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from peers import Remote, check, failures, free_port, start_broker, step

BIN = os.path.abspath(sys.argv[1])
STATE = ("online", "setpoint", "protection", "recording", "program", "alarm")


class Subscriber:
    """mosquitto_sub in the background; lines (topic, payload) as they come."""

    def __init__(self, port, topics, *extra, seconds=120):
        self.lines = []
        self.next = 0  # the first line wait() has not yet returned or passed
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
                self.lines.append((topic, payload))
                self.cond.notify_all()

    def wait(self, pred, what, timeout=60.0):
        """The next line after those already returned that pred accepts; the
        lines before it are passed over. Fails naming what was awaited."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                while self.next < len(self.lines):
                    line = self.lines[self.next]
                    self.next += 1
                    if pred(*line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not self.reader.is_alive()):
                    raise RuntimeError(f"no {what} within {timeout:.0f}s; got {self.lines[-5:]}")
                self.cond.wait(min(left, 0.5))

    def finish(self):
        """Every line, once mosquitto_sub has ended by itself."""
        self.proc.wait()
        self.reader.join()
        return self.lines

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait()


def near(elapsed, seconds):
    """A sample's elapsed time (milliseconds) is the record's (three decimals)."""
    return elapsed is not None and abs(elapsed - seconds) < 0.0015


def publish(port, topic, payload, *extra):
    subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-t", topic,
                    *(["-n"] if payload is None else ["-m", payload]), *extra], check=True)


def retained(port, topics, count):
    """The retained messages of topics as {topic: payload}, count of them at most."""
    fresh = Subscriber(port, topics, "--retained-only", "-C", str(count), seconds=10)
    return {t: p for t, p in fresh.finish()}


work = tempfile.mkdtemp(prefix="calorix-mqtt-")
port = free_port()
remote_port = free_port()
passwords = os.path.join(work, "passwords")
subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, "calorix", "secret"], check=True)
conf = os.path.join(work, "mosquitto.conf")
with open(conf, "w") as f:
    # Persistence keeps the test's durable session across the restart; run as
    # root (when started so) it may write its database and read the passwords.
    f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npassword_file {passwords}\n"
            f"persistence true\npersistence_location {work}/\nuser root\n")
exe = os.path.join(work, "calorix")
shutil.copy(BIN, exe)
# The settings file beside the program: commands on with a login, a prefix of its own.
password_file = os.path.join(work, "password")
with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
    f.write("secret\n")
with open(os.path.join(work, "Calorix.ini"), "w") as f:
    f.write(f"[MQTT]\r\nPrefix=lab\r\nCommands=1\r\nUser=calorix\r\n"
            f"PasswordFile={password_file}\r\n")
env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, ".config"),
           XDG_STATE_HOME=os.path.join(work, ".state"),
           XDG_DATA_HOME=os.path.join(work, ".data"), ASAN_OPTIONS="detect_leaks=0")
env.pop("QT_QPA_PLATFORM", None)
log = os.path.join(work, "out.log")
broker = prog = None
subs = []
try:
    broker = start_broker(conf, port)
    readings = Subscriber(port, ["lab/+/temperature", "lab/+/sample"])
    subs.append(readings)
    with open(log, "wb") as out:
        prog = subprocess.Popen([exe, "--simulate", f"--mqtt=127.0.0.1:{port}",
                                 f"--remote=127.0.0.1:{remote_port}"], cwd=work,
                                env=env, stdout=out, stderr=subprocess.STDOUT)

    step("successive readings")
    # Each poll publishes its temperature, then its sample with the poll's time.
    first = readings.wait(lambda t, p: t.endswith("/temperature"), "a temperature")
    serial = first[0].split("/")[1]
    check(float(first[1]) > -100, f"a temperature, got {first[1]!r}")
    times = []
    for n in range(4):
        temp = readings.wait(lambda t, p: t.endswith("/temperature"), f"temperature {n + 1}")
        sample = json.loads(readings.wait(lambda t, p: t.endswith("/sample"), f"sample {n + 1}")[1])
        check(sample["temperature"] == float(temp[1]),
              f"the sample's temperature {sample} is the reading {temp[1]}")
        times.append(sample["time"])
    check(times == sorted(set(times)), f"one sample per poll, in order: {times}")

    step("retained state on a fresh subscription")
    # Only state topics: --retained-only ends at the first message that is not retained.
    got = retained(port, [f"lab/+/{leaf}" for leaf in STATE] + ["lab/clients/+/status"],
                   len(STATE) + 1)
    want_topics = {f"lab/{serial}/{leaf}" for leaf in STATE}
    check(want_topics <= set(got), f"retained {sorted(want_topics)}, got {got}")
    check(got.get(f"lab/{serial}/online") == "1", f"online 1, got {got}")
    check(got.get(f"lab/{serial}/recording") == "0", f"recording 0, got {got}")
    check(got.get(f"lab/{serial}/program") == '{"state": "stopped", "step": 0, "name": ""}',
          f"program stopped, got {got}")
    status = [t for t in got if t.startswith("lab/clients/") and t.endswith("/status")]
    check(len(status) == 1 and got[status[0]] == "online", f"client status online, got {got}")
    status_topic = status[0] if status else "lab/clients/+/status"

    step("a setpoint through the broker, read back")
    setpoints = Subscriber(port, f"lab/{serial}/setpoint")
    subs.append(setpoints)
    setpoints.wait(lambda t, p: True, "the retained setpoint")
    publish(port, f"lab/{serial}/setpoint/set", "abc")
    publish(port, f"lab/{serial}/setpoint/set", "31,5")
    setpoints.wait(lambda t, p: p == "31.50", "setpoint 31.50")
    check("\"abc\" is not a setpoint" in open(log, errors="replace").read(),
          "a line on standard error for the payload abc")

    step("the broker away while the program records")
    remote = Remote(remote_port)
    check(remote.query("REC:STAT?") == "0", "not recording yet")
    # A durable session (fixed id, clean session off, QoS 1) keeps what the
    # program publishes for the test's subscriber from the restart on, whenever
    # it comes back.
    durable = ["-i", "e2e-durable", "-c", "-q", "1"]
    Subscriber(port, f"lab/{serial}/sample", *durable, "-C", "1").finish()
    # The broker forgets the retained state, so that only the program can bring it back.
    for topic in [f"lab/{serial}/{leaf}" for leaf in STATE] + [status_topic]:
        publish(port, topic, None, "-r")
    check(retained(port, f"lab/{serial}/+", 1) == {}, "the retained state cleared")
    broker.terminate()
    broker.wait()
    for s in subs:
        s.stop()
    subs.clear()
    remote.write("REC:STAT ON")
    before = int(remote.query("REC:POIN?"))
    # Readings polled while nobody could take them: wait for three of them.
    deadline = time.monotonic() + 60
    while int(remote.query("REC:POIN?")) < before + 3:
        if time.monotonic() > deadline:
            raise RuntimeError("the record did not grow by three samples within 60 s")
        time.sleep(0.2)
    fields = remote.query(f"REC:DATA? {before},3").split(",")
    away = [float(s) for s in fields[0::2]]
    broker = start_broker(conf, port)
    queued = Subscriber(port, f"lab/{serial}/sample", *durable)
    subs.append(queued)
    for elapsed in away:
        queued.wait(lambda t, p, e=elapsed: near(json.loads(p)["elapsed"], e),
                    f"the sample of {elapsed} s, polled while the broker was away")

    step("the retained state published again after the restart")
    # The broker lost it before the restart: whatever comes now the program sent.
    status_sub = Subscriber(port, status_topic)
    subs.append(status_sub)
    status_sub.wait(lambda t, p: p == "online", "the client status online after the restart")
    state = Subscriber(port, [f"lab/{serial}/{leaf}" for leaf in STATE])
    subs.append(state)
    left = {f"lab/{serial}/{leaf}" for leaf in STATE}
    while left:
        left.discard(state.wait(lambda t, p: t in left, f"the state {sorted(left)}")[0])
    got = retained(port, f"lab/{serial}/+", len(STATE))
    for leaf, want in (("online", "1"), ("setpoint", "31.50"), ("recording", "1")):
        check(got.get(f"lab/{serial}/{leaf}") == want, f"retained {leaf} {want}, got {got}")
    check({f"lab/{serial}/{leaf}" for leaf in STATE} <= set(got), f"all state retained: {got}")

    step("the last will after SIGKILL")
    prog.send_signal(signal.SIGKILL)
    prog.wait()
    status_sub.wait(lambda t, p: p == "offline", "the client status offline")
    out = open(log, "rb").read().decode(errors="replace")
    check("Sanitizer" not in out and "runtime error" not in out, "no sanitizer report:\n" + out)
except (RuntimeError, OSError, subprocess.SubprocessError, ValueError, KeyError) as e:
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
