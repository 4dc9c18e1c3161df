#!/usr/bin/python3
"""A whole working session with the real program under Xvfb and a window
manager, driven by the X keyboard and mouse as a person would: record, stop,
save, clear, open, change the setpoint, use the console and the settings
dialog, record again and close with the record unsaved.

What the window shows is read through the accessibility tree (AT-SPI), so
every step waits for what it should change instead of sleeping. Positions
come from there too: the clicks land where the widgets really are.

  session.py CALORIX XWIN                    the test
  session.py CALORIX XWIN --screenshots DIR  the same, slower, leaving
                                             graph/values/console/settings.png in DIR

Runs itself under xvfb-run and dbus-run-session (the accessibility bus needs a
session bus). Must run with Debian's /usr/bin/python3: pyatspi is its package.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TITLE = "Calorix v3.0 - Норвик"
SAVE_TITLE = "Сохранение данных в файл"
OPEN_TITLE = "Открытие файла данных"
SETTINGS_TITLE = "Настройки программы"

args = sys.argv[1:]
SHOTS = None
if "--screenshots" in args:
    i = args.index("--screenshots")
    SHOTS = os.path.abspath(args[i + 1])
    del args[i:i + 2]
BIN, XWIN = os.path.abspath(args[0]), os.path.abspath(args[1])

if not os.environ.get("CALORIX_SESSION_WORK"):
    # Outside: a home of its own (the window manager, the accessibility bus and
    # the program's journal all write there), then the same script inside X.
    work = tempfile.mkdtemp(prefix="calorix-session-")
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "run")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, CALORIX_SESSION_WORK=work, HOME=home,
               XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"),
               XDG_STATE_HOME=os.path.join(home, ".local/state"), XDG_RUNTIME_DIR=runtime,
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "detect_leaks=0"))
    env.pop("QT_QPA_PLATFORM", None)
    try:
        # -a looks for a free display from -n on: apart from the other tests' searches.
        rc = subprocess.run(["xvfb-run", "-a", "-n", str(100 + os.getpid() % 800),
                             "-s", "-screen 0 1280x1024x24",
                             "dbus-run-session", "--", sys.executable] + sys.argv,
                            env=env, timeout=300).returncode
    except subprocess.TimeoutExpired:
        print("FAIL: the session did not end")
        rc = 1
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(rc)

import pyatspi  # noqa: E402  (only inside the session bus)

work = os.environ["CALORIX_SESSION_WORK"]
started = time.monotonic()
prog = None
wm = None
log_path = os.path.join(work, "out.log")


class Failure(Exception):
    pass


def step(text):
    print(f"[{time.monotonic() - started:5.1f}s] {text}", flush=True)


def wait_for(cond, what, timeout=10.0, interval=0.1):
    """Polls cond until it returns something true; fails naming what was awaited."""
    deadline = time.monotonic() + timeout
    while True:
        value = cond()
        if value:
            return value
        if prog is not None and prog.poll() is not None:
            raise Failure(f"the program ended (status {prog.returncode}) while waiting for {what}")
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f}s waiting for {what}")
        time.sleep(interval)


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


# --- The accessibility tree --------------------------------------------------

def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        try:
            if a is not None and a.get_process_id() == prog.pid:
                return a
        except Exception:
            pass
    return None


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(role=None, name=None, within=None, showing=True):
    """The first node with that role and name (fresh from the program, not a cache)."""
    try:
        root = within or app()
        if root is None:
            return None
        root.clearCache()
        for acc in walk(root):
            if role and acc.getRoleName() != role:
                continue
            if name is not None and acc.name != name:
                continue
            if showing and not acc.getState().contains(pyatspi.STATE_SHOWING):
                continue
            return acc
    except Exception:  # a node went away while walking: the caller polls again
        return None
    return None


def window(name, role=None):
    a = app()
    if a is None:
        return None
    a.clearCache()
    for i in range(a.childCount):
        w = a.getChildAtIndex(i)
        # A hidden dialog stays in the tree: only a window on the screen counts.
        if (w is not None and w.name == name and (role is None or w.getRoleName() == role)
                and w.getState().contains(pyatspi.STATE_SHOWING)):
            return w
    return None


def text_of(acc):
    acc.clearCache()
    t = acc.queryText()
    return t.getText(0, t.characterCount)


def field(name):
    """The text of the one-line edit labelled name."""
    acc = find("text", name)
    return text_of(acc) if acc else None


def number(text):
    try:
        return float(text.replace(",", "."))
    except (AttributeError, ValueError):
        return None


def has_state(acc, state):
    acc.clearCache()
    return acc.getState().contains(state)


def enabled(acc):
    return has_state(acc, pyatspi.STATE_ENABLED)


def in_window(title, role, name=None):
    """A node inside the window with that title, None while the window is not there."""
    w = window(title)
    return w and find(role, name, within=w)


def value_rows():
    frame = window(TITLE, "frame")
    table = frame and find("table", within=frame, showing=False)
    if table is None:
        return None
    table.clearCache()
    return table.queryTable().nRows


# --- The X keyboard and mouse --------------------------------------------------

def click(acc, button=1):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if e.width <= 0 or e.height <= 0:
        raise Failure(f"{acc.getRoleName()} '{acc.name}' has no place on the screen")
    run("xdotool", "mousemove", "--sync", str(e.x + e.width // 2), str(e.y + e.height // 2),
        "click", str(button))


def press(role, name, within=None):
    click(wait_for(lambda: find(role, name, within), f"{role} '{name}'"))


def key(*keys):
    run("xdotool", "key", "--clearmodifiers", *keys)


def type_text(text):
    run("xdotool", "type", "--delay", "20", text)


def xid(title):
    """The X id of the window on the screen with that title, or None."""
    out = subprocess.run([XWIN, "id", title], capture_output=True, text=True).stdout.split()
    return out[0] if out else None


def main_xid():
    return xid(TITLE)


def activate_main():
    run("xdotool", "windowactivate", "--sync", wait_for(main_xid, "the main X window"))


def screenshot(name, window_id=None, frame=False):
    if not SHOTS:
        return
    run("xdotool", "mousemove", "--sync", "1279", "1023")  # no hover, no tooltip
    time.sleep(0.8)  # the last repaint after the pointer left
    os.makedirs(SHOTS, exist_ok=True)
    path = os.path.join(SHOTS, name)
    run("import", *(["-frame"] if frame else []), "-window", window_id or main_xid(), path)
    step(f"screenshot {path}")


def x_window(title):
    return subprocess.run([XWIN, "find", title]).returncode == 0


def file_dialog(title, path):
    """Types the full path into the Qt file dialog and accepts it."""
    wait_for(lambda: window(title), f"the dialog '{title}'")
    edit = wait_for(lambda: in_window(title, "text"), "the dialog's file name edit")
    wait_for(lambda: has_state(edit, pyatspi.STATE_FOCUSED), "the file name edit to take the focus",
             timeout=5)
    type_text(path)
    # The completer may take the first Enter for itself.
    for _ in range(3):
        if not window(title):
            return
        key("Return")
        try:
            wait_for(lambda: not window(title), "the dialog to close", timeout=2)
            return
        except Failure:
            pass
    raise Failure(f"the dialog '{title}' did not take the path {path}")


def answer(title, button):
    dlg = wait_for(lambda: window(title), f"the question '{title}'")
    press("push button", button, within=dlg)
    wait_for(lambda: not window(title), f"the question '{title}' to go")


# --- The session ----------------------------------------------------------------

LINE = re.compile(rb"^\d+:\d\d:\d\d;-?\d+[.,]\d\d$")


def check_file(path, rows):
    data = open(path, "rb").read()
    if not data.endswith(b"\r\n"):
        raise Failure(f"{path} does not end with CR LF")
    lines = data[:-2].split(b"\r\n")
    if len(lines) != rows:
        raise Failure(f"{path} has {len(lines)} lines for {rows} recorded samples")
    for line in lines:
        if not LINE.match(line):
            raise Failure(f"{path}: line {line!r} is not 'time;value'")
    values = [number(line.split(b";")[1].decode()) for line in lines]
    if not all(15.0 < v < 30.0 for v in values):
        raise Failure(f"{path}: values {values} are not the simulated bath's")


def session():
    global prog, wm
    shutil.copy(BIN, os.path.join(work, "calorix"))  # Calorix.ini is written beside it
    wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    wait_for(lambda: "window id" in subprocess.run(
        ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True, text=True).stdout,
        "the window manager")
    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus before the program looks
    with open(log_path, "wb") as log:
        prog = subprocess.Popen([os.path.join(work, "calorix"), "--simulate"], cwd=work,
                                stdout=log, stderr=subprocess.STDOUT)

    step("waiting for the window and the simulated thermostat")
    wait_for(lambda: x_window(TITLE), f"the window '{TITLE}'", timeout=30)
    wait_for(lambda: window(TITLE, "frame"), "the window in the accessibility tree", timeout=20)
    wait_for(lambda: find("label", "Термостат: SIM0001"), "the thermostat to be selected")
    wait_for(lambda: number(field("Уставка, °C")) == 25.0, "the setpoint read from it")
    wait_for(lambda: number(field("Температура, °C")), "a temperature")
    activate_main()

    step("recording")
    press("push button", "Запись")
    wait_for(lambda: find("push button", "Стоп"), "'Запись' to become 'Стоп'")
    if enabled(find("push button", "Сохранить")):
        raise Failure("'Сохранить' stays enabled while recording")
    wait_for(lambda: (value_rows() or 0) >= 3, "three recorded samples", timeout=10)
    press("push button", "Стоп")
    wait_for(lambda: find("push button", "Запись"), "'Стоп' to become 'Запись'")
    rows = value_rows()
    time.sleep(1.5)  # one more poll: a stopped record must not grow
    if value_rows() != rows:
        raise Failure(f"the record grew after 'Стоп': {rows} -> {value_rows()}")
    step(f"stopped with {rows} samples")

    step("saving with Ctrl+S")
    saved = os.path.join(work, "record.csv")
    activate_main()
    key("ctrl+s")
    file_dialog(SAVE_TITLE, saved)
    wait_for(lambda: os.path.exists(saved), f"{saved} to be written")
    check_file(saved, rows)

    step("clearing: 'No' keeps the record, 'Yes' empties it")
    press("push button", "Очистить")
    answer("Warning", "No")
    if value_rows() != rows:
        raise Failure(f"'No' to the clear question left {value_rows()} of {rows} samples")
    press("push button", "Очистить")
    answer("Warning", "Yes")
    wait_for(lambda: value_rows() == 0, "the record to be empty")

    step("opening with Ctrl+O")
    activate_main()
    key("ctrl+o")
    file_dialog(OPEN_TITLE, saved)
    wait_for(lambda: value_rows() == rows, f"{rows} samples read back")

    step("changing the setpoint")
    setpoint = find("text", "Уставка, °C")
    click(setpoint)
    key("End", "shift+Home")
    type_text("37.5")
    wait_for(lambda: field("Уставка, °C") == "37.5", "the typed setpoint")
    press("push button", "Изменить")
    # The thermostat's read-back shows two decimals: typed text would be "37.5".
    wait_for(lambda: re.fullmatch(r"37[.,]50", field("Уставка, °C") or ""),
             "the thermostat's read-back of the new setpoint")

    step("console")
    press("page tab", "Консоль")
    console = wait_for(lambda: find("text", ""), "the console")
    wait_for(lambda: has_state(console, pyatspi.STATE_FOCUSED), "the console to take the focus",
             timeout=5)
    type_text(":00000000 set.val rd")
    key("Return")
    wait_for(lambda: "00000000 0 37.50" in text_of(console), "the console's answer")
    wait_for(lambda: text_of(console).rstrip().endswith(">"), "the next prompt")
    type_text(":00000000 dat.t rd")
    key("Return")
    wait_for(lambda: re.search(r"dat\.t rd\n00000000 0 \d+\.\d\d\n>$", text_of(console)),
             "the temperature's answer and the next prompt")
    screenshot("console.png")

    step("settings dialog")
    press("page tab", "Графики")
    press("push button", "Настройки")
    dlg = wait_for(lambda: window(SETTINGS_TITLE), "the settings dialog")
    poll = wait_for(lambda: in_window(SETTINGS_TITLE, "text"), "the poll period edit")
    if text_of(poll) != "1000":
        raise Failure(f"the poll period shows {text_of(poll)!r}")
    if SHOTS:
        screenshot("settings.png", wait_for(lambda: xid(SETTINGS_TITLE), "the dialog's X window"),
                   frame=True)
    press("push button", "Отмена", within=dlg)
    wait_for(lambda: not window(SETTINGS_TITLE), "the settings dialog to close")

    if SHOTS:  # the pictures show one smooth curve, without the pause's step
        press("push button", "Очистить")
        answer("Warning", "Yes")
    step("recording again, the whole record in view")
    for box in ["Вся запись", "Авто"]:
        press("check box", box)
        wait_for(lambda: has_state(find("check box", box), pyatspi.STATE_CHECKED),
                 f"'{box}' ticked")
    press("push button", "Запись")
    wait_for(lambda: find("push button", "Стоп"), "'Запись' to become 'Стоп' again")
    more = 25 if SHOTS else 2
    base = 0 if SHOTS else rows
    wait_for(lambda: (value_rows() or 0) >= base + more, f"{more} more samples",
             timeout=more + 10)
    screenshot("graph.png")
    if SHOTS:
        press("page tab", "Значения")
        wait_for(lambda: find("table"), "the values page")
        screenshot("values.png")
        press("page tab", "Графики")

    step("closing with the record unsaved (Alt+F4, the window manager's close)")
    activate_main()
    key("alt+F4")
    answer("Confirm", "No")
    status = prog.wait(timeout=20)
    if status != 0:
        raise Failure(f"exit status {status}")
    ini = os.path.join(work, "Calorix.ini")
    if not os.path.exists(ini):
        raise Failure("no Calorix.ini beside the executable")
    text = open(ini, encoding="utf-8", errors="replace").read()
    for k in ["[MainFrm]", "[Chart]", "PollTime=1000", "width=", "Frame="]:
        if k not in text:
            raise Failure(f"{k} missing from Calorix.ini:\n{text}")
    check_file(saved, rows)  # "No" saved nothing over it
    out = open(log_path, "rb").read().decode(errors="replace")
    if "Sanitizer" in out or "runtime error" in out:
        raise Failure("sanitizer report:\n" + out)
    step("closed, status 0")


def dump_failure():
    try:
        shot = os.path.join(os.getcwd(), "e2e_session_failure.png")
        subprocess.run(["import", "-window", "root", shot], timeout=10)
        print("screen at the failure:", shot)
    except Exception:
        pass
    try:
        a = app()
        if a is not None:
            for acc in walk(a):
                print("  ", acc.getRoleName(), repr(acc.name))
    except Exception:
        pass
    if os.path.exists(log_path):
        print("program output:\n" + open(log_path, errors="replace").read())


ok = False
try:
    session()
    ok = True
except (Failure, subprocess.SubprocessError, OSError) as e:
    print("FAIL:", e)
    dump_failure()
finally:
    for p in (prog, wm):
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()
step("done")
print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
sys.exit(0 if ok else 1)
