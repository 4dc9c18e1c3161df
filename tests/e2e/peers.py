"""What the end-to-end scripts without a desktop share: progress and check
lines, a free loopback port, a mosquitto of the test's own, and a remote-
control client (one command line, one answer line)."""
import shutil
import socket
import subprocess
import time

MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
failures = []  # what check() found wrong; the script's status
started = time.monotonic()


def step(text):
    print(f"[{time.monotonic() - started:5.1f}s] {text}", flush=True)


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connectable(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def start_broker(conf, port):
    """mosquitto with this configuration, once it takes connections on port."""
    broker = subprocess.Popen([MOSQUITTO, "-c", conf], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if connectable(port):
            return broker
        time.sleep(0.05)
    broker.kill()
    raise RuntimeError("the broker did not start")


class Remote:
    """A remote-control client: one command line, one answer line."""

    def __init__(self, port):
        deadline = time.monotonic() + 60
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)  # the program is still starting
        self.file = self.sock.makefile("rb")

    def write(self, line):
        self.sock.sendall(line.encode() + b"\n")

    def query(self, line):
        self.write(line)
        return self.file.readline().decode().strip()
