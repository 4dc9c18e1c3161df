"""The desktop the end-to-end scripts drive the real program on: Xvfb, a
session bus for the accessibility tree, a window manager, the X keyboard and
mouse through xdotool, and the widgets read back through AT-SPI.

A script calls enter_session() first: outside it makes a work folder with a
home of its own and runs the same script again under xvfb-run and
dbus-run-session; inside it returns that folder. Must run with Debian's
/usr/bin/python3: pyatspi is its package.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

TITLE = "Calorix v3.0 - Норвик"
ALARM_TITLE = "ТРЕВОГА - " + TITLE  # while the thermostat has alarms
WORK_VAR = "CALORIX_E2E_WORK"

pyatspi = None  # imported inside the session bus only
XWIN = None  # tests/e2e/xwin: finds X windows by title
started = time.monotonic()
prog = None  # the program being driven: wait_for notices when it ends
wm = None
log_path = None  # its output, shown on a failure


class Failure(Exception):
    pass


def enter_session(prefix, xwin, timeout=300):
    """Outside: runs this script under X and its own session bus, exits with
    its status. Inside: returns the work folder (its home is work/home)."""
    global pyatspi, XWIN
    XWIN = os.path.abspath(xwin)
    if os.environ.get(WORK_VAR):
        import pyatspi as module
        pyatspi = module
        return os.environ[WORK_VAR]
    # The window manager, the accessibility bus and the program's journal all
    # write into the home.
    work = tempfile.mkdtemp(prefix=prefix)
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "run")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"),
               XDG_STATE_HOME=os.path.join(home, ".local/state"), XDG_RUNTIME_DIR=runtime,
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "detect_leaks=0"))
    env[WORK_VAR] = work
    env.pop("QT_QPA_PLATFORM", None)
    try:
        # -a looks for a free display from -n on: apart from the other tests' searches.
        rc = subprocess.run(["xvfb-run", "-a", "-n", str(100 + os.getpid() % 800),
                             "-s", "-screen 0 1280x1024x24",
                             "dbus-run-session", "--", sys.executable] + sys.argv,
                            env=env, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        print("FAIL: the session did not end")
        rc = 1
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(rc)


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


# --- Processes -------------------------------------------------------------------

def start_window_manager():
    global wm
    wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    wait_for(lambda: "window id" in subprocess.run(
        ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True, text=True).stdout,
        "the window manager", timeout=30)  # slow to come up on a busy machine
    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus before the program looks


def start_program(exe, *args, log, cwd):
    """Starts the program with its output appended to log; it becomes the one driven."""
    global prog, log_path
    log_path = log
    with open(log, "ab") as out:
        prog = subprocess.Popen([exe, *args], cwd=cwd, stdout=out, stderr=subprocess.STDOUT)
    return prog


def wait_for_main_window():
    wait_for(lambda: x_window(TITLE), f"the window '{TITLE}'", timeout=30)
    wait_for(lambda: window(TITLE, "frame"), "the window in the accessibility tree", timeout=20)


def check_log_clean():
    out = open(log_path, "rb").read().decode(errors="replace")
    if "Sanitizer" in out or "runtime error" in out:
        raise Failure("sanitizer report:\n" + out)


def stop_all():
    for p in (prog, wm):
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()


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


def values_table():
    frame = window(TITLE, "frame")
    return frame and find("table", within=frame, showing=False)


def value_rows():
    table = values_table()
    if table is None:
        return None
    table.clearCache()
    return table.queryTable().nRows


def value_lines():
    """Every line of the values page, in order (rows out of view too)."""
    table = wait_for(values_table, "the values table")
    table.clearCache()
    t = table.queryTable()
    return [t.getAccessibleAt(r, 0).name for r in range(t.nRows)]


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


def x_window(title):
    return subprocess.run([XWIN, "find", title]).returncode == 0


def close_window(title=TITLE):
    """Asks the window to close as the window manager's close button does: no
    key to lose on its way through the window manager's grab. The main window
    is found with its title marked while its thermostat has alarms too."""
    if title == TITLE and not x_window(TITLE) and x_window(ALARM_TITLE):
        title = ALARM_TITLE
    run(XWIN, "close", title)


# --- Dialogs -------------------------------------------------------------------

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


def question_text(title, timeout=10.0):
    """The text of the message box with that title, once it is on the screen."""
    dlg = wait_for(lambda: window(title), f"the question '{title}'", timeout=timeout)
    label = wait_for(lambda: next((a for a in walk(dlg) if a.getRoleName() == "label" and a.name),
                                  None), f"the text of '{title}'")
    return label.name


def answer(title, button):
    dlg = wait_for(lambda: window(title), f"the question '{title}'")
    press("push button", button, within=dlg)
    wait_for(lambda: not window(title), f"the question '{title}' to go")


# --- Pictures for the user guide -------------------------------------------------

shots = None  # the folder of --screenshots DIR; None: no pictures are taken


def free_port():
    """A loopback port free now, for the program's instrument port or a broker."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def change_setpoint(text):
    """Types a setpoint with a point ("37.5") and presses "Изменить"; waits for
    the thermostat's read-back, which the field shows with two decimals."""
    click(wait_for(lambda: find("text", "Уставка, °C"), "the setpoint field"))
    key("End", "shift+Home")
    type_text(text)
    wait_for(lambda: field("Уставка, °C") == text, "the typed setpoint")
    press("push button", "Изменить")
    shown = re.escape(f"{float(text):.2f}").replace(r"\.", "[.,]")
    wait_for(lambda: re.fullmatch(shown, field("Уставка, °C") or ""),
             "the thermostat's read-back of the new setpoint")


def take_screenshots_option(args):
    """Takes "--screenshots DIR" out of args (a list), remembering DIR."""
    global shots
    if "--screenshots" in args:
        i = args.index("--screenshots")
        shots = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    return args


def screenshot(name, window_id=None, frame=False):
    """The window (the main one by default) as shots/name, when pictures are wanted."""
    if not shots:
        return
    run("xdotool", "mousemove", "--sync", "1279", "1023")  # no hover, no tooltip
    time.sleep(0.8)  # the last repaint after the pointer left
    os.makedirs(shots, exist_ok=True)
    path = os.path.join(shots, name)
    run("import", *(["-frame"] if frame else []), "-window", window_id or main_xid(), path)
    step(f"screenshot {path}")


# --- Reporting -------------------------------------------------------------------

def dump_failure(name):
    try:
        shot = os.path.join(os.getcwd(), f"{name}_failure.png")
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
    if log_path and os.path.exists(log_path):
        print("program output:\n" + open(log_path, errors="replace").read())


def main(test, name):
    """Runs test(), reports it the way ctest's readers count, exits with its status."""
    ok = False
    try:
        test()
        ok = True
    except (Failure, subprocess.SubprocessError, OSError) as e:
        print("FAIL:", e)
        dump_failure(name)
    finally:
        stop_all()
    step("done")
    print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    sys.exit(0 if ok else 1)
