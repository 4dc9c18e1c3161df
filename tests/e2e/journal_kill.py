#!/usr/bin/python3
"""The recording journal against a real crash: the program is killed with
SIGKILL while it records from the simulated thermostat, started again in the
same home, and the record is offered back. What comes back is checked sample
for sample against the values page as it was before the kill and against the
journal file as the test reads it from the disk itself.

  1. record, read the values page and the journal, SIGKILL
  2. "Yes": the record is back, unsaved, not recording; close without saving
  3. no question; record again, SIGKILL
  4. "No": the journal goes; close

  journal_kill.py CALORIX XWIN

Must run with Debian's /usr/bin/python3 (pyatspi); see desktop.py.
"""
import glob
import math
import os
import re
import shutil
import signal
import struct
import sys
import time
from decimal import ROUND_HALF_UP, Decimal

import desktop
from desktop import (Failure, activate_main, answer, find, press, question_text, step,
                     value_lines, value_rows, wait_for, window)

BIN = os.path.abspath(sys.argv[1])
work = desktop.enter_session("calorix-journal-", sys.argv[2])
EXE = os.path.join(work, "calorix")
FOLDER = os.path.join(os.environ["XDG_STATE_HOME"], "Calorix")
LOG = os.path.join(work, "out.log")
# The promise: a crash loses at most this much of the record.
LOSS_S = 5

# Qt's own locale data decides, not the C library's (which may lack the locale).
DECIMAL = "," if os.environ.get("LANG", "").startswith(("ru", "de", "fr")) else "."
ROW = re.compile(r"^(\d+):(\d\d):(\d\d) -?\d+[.,]\d\d$")


# --- The journal file, read without the program ------------------------------------

def fnv1a(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h


def read_journal(path):
    """(entries, torn tail bytes); fails on a bad header or a bad checksum."""
    data = open(path, "rb").read()
    if len(data) < 16 or data[:8] != b"CLXJRNL\0" or struct.unpack_from("<II", data, 8) != (1, 24):
        raise Failure(f"{path}: bad header {data[:16]!r}")
    entries = []
    whole = (len(data) - 16) // 24
    for i in range(whole):
        off = 16 + 24 * i
        t, v, sum_ = struct.unpack_from("<ddQ", data, off)
        if fnv1a(data[off:off + 16]) != sum_:
            raise Failure(f"{path}: entry {i} of {whole} fails its checksum")
        entries.append((t, v))
    return entries, len(data) - 16 - 24 * whole


def read_journal_settled(path):
    """The same while the program may be writing: a read that met a write in
    progress is taken again."""
    for attempt in range(5):
        try:
            entries, tail = read_journal(path)
            if tail == 0:
                return entries
        except Failure:
            if attempt == 4:
                raise
        time.sleep(0.1)
    raise Failure(f"{path} keeps a torn last entry")


def journals():
    return sorted(glob.glob(os.path.join(FOLDER, "record-*.journal*")))


# --- The values page's text for a sample (the program's own rules) -----------------

def elapsed(days):
    ms = math.floor(abs(days) * 86_400_000.0 + 0.5)  # to milliseconds, then cut to seconds
    s = ms // 1000
    sign = "-" if days < 0 and ms >= 1000 else ""
    return f"{sign}{s // 3600}:{s // 60 % 60:02d}:{s % 60:02d}"


def fixed2(value):
    d = Decimal(f"{value:.15g}").quantize(Decimal("0.01"), rounding=ROUND_HALF_UP)
    text = f"{d:f}"
    if d == 0:
        text = text.lstrip("-")
    return text.replace(".", DECIMAL)


def line(entry):
    return f"{elapsed(entry[0])} {fixed2(entry[1])}"


def seconds(row):
    m = ROW.match(row)
    if not m:
        raise Failure(f"the row {row!r} is not 'H:MM:SS value'")
    return int(m[1]) * 3600 + int(m[2]) * 60 + int(m[3])


def question(count, length_days):
    """The restore question the program should ask."""
    mod100, mod10 = count % 100, count % 10
    noun = ("измерений" if 11 <= mod100 <= 14 else "измерение" if mod10 == 1
            else "измерения" if 2 <= mod10 <= 4 else "измерений")
    return (f"Найдена незавершенная запись: {count} {noun} за {elapsed(length_days)}. "
            "Восстановить?")


# --- The runs -----------------------------------------------------------------------

def start():
    prog = desktop.start_program(EXE, "--simulate", log=LOG, cwd=work)
    desktop.wait_for_main_window()
    return prog


def wait_for_thermostat():
    wait_for(lambda: find("label", "Термостат: SIM0001"), "the thermostat to be selected",
             timeout=20)


def kill(prog):
    os.kill(prog.pid, signal.SIGKILL)
    if prog.wait(timeout=10) != -signal.SIGKILL:
        raise Failure(f"the killed program ended with status {prog.returncode}")


def expect_question(entries, tail):
    text = question_text("Confirm", timeout=30)
    want = question(len(entries), max(t for t, _ in entries))
    if tail:
        want += " Не удалось прочитать: 1."
    if text != want:
        raise Failure(f"the restore question reads {text!r}, expected {want!r}")


def close_unsaved(prog):
    desktop.close_window()
    answer("Confirm", "No")
    if prog.wait(timeout=20) != 0:
        raise Failure(f"exit status {prog.returncode}")


def expect_no_journal(when):
    left = journals()
    if left:
        raise Failure(f"{when}, journals are left: {left}")


def test():
    shutil.copy(BIN, EXE)  # Calorix.ini is written beside it
    desktop.start_window_manager()

    step("1: recording until the values page lists 8 rows")
    prog = start()
    wait_for_thermostat()
    activate_main()
    press("push button", "Запись")
    wait_for(lambda: find("push button", "Стоп"), "'Запись' to become 'Стоп'")
    press("page tab", "Значения")
    wait_for(lambda: (value_rows() or 0) >= 8, "8 recorded samples", timeout=20)
    eighth = time.monotonic()
    seen = value_lines()
    path = os.path.join(FOLDER, f"record-{prog.pid}.journal")
    if not os.path.exists(path):
        raise Failure(f"no journal {path} after {len(seen)} samples: {journals()}")
    before = read_journal_settled(path)
    kill(prog)
    step(f"killed {time.monotonic() - eighth:.2f} s after the 8th row, with {len(seen)} rows "
         f"shown, {len(before)} in the journal then")

    last = seconds(seen[-1])
    kept = [row for row in seen if seconds(row) <= last - LOSS_S]
    if not os.path.exists(path):
        raise Failure(f"the journal {path} went with the killed program")
    entries, tail = read_journal(path)
    step(f"{len(entries)} whole entries on the disk, {tail} bytes torn")
    if entries[:len(before)] != before:
        raise Failure("the journal's entries changed after they were written")
    shown = [line(e) for e in entries]
    if shown[:len(kept)] != kept:
        raise Failure(f"the journal holds {shown}, the values page showed {seen}")
    n = min(len(shown), len(seen))
    if shown[:n] != seen[:n]:
        raise Failure(f"the journal {shown} disagrees with the values page {seen}")

    step("2: started again, 'Yes' restores the record")
    prog = start()
    expect_question(entries, tail)
    answer("Confirm", "Yes")
    press("page tab", "Значения")
    wait_for(lambda: value_rows() == len(entries), f"{len(entries)} restored rows")
    restored = value_lines()
    if restored != shown:
        raise Failure(f"restored rows {restored}, the journal holds {shown}")
    if not find("push button", "Запись", showing=False) or find("push button", "Стоп",
                                                                 showing=False):
        raise Failure("the restored record is being recorded into")
    # The restored record is on the disk again, in this program's own journal.
    own = os.path.join(FOLDER, f"record-{prog.pid}.journal")
    wait_for(lambda: journals() == [own], f"only {own} to be left, not {journals()}", timeout=5)
    if read_journal_settled(own) != entries:
        raise Failure(f"{own} does not hold the restored record")
    time.sleep(1.5)  # a poll or more: the stopped record must not grow
    if value_rows() != len(entries):
        raise Failure(f"the restored record grew to {value_rows()} rows")
    close_unsaved(prog)
    expect_no_journal("closed without saving")

    step("3: no question; recording again, SIGKILL")
    prog = start()
    wait_for_thermostat()
    if window("Confirm"):
        raise Failure("a question at the start with no journal left")
    activate_main()
    press("push button", "Запись")
    path = os.path.join(FOLDER, f"record-{prog.pid}.journal")
    wait_for(lambda: os.path.exists(path) and len(read_journal_settled(path)) >= 2,
             "two samples in the journal", timeout=15)
    kill(prog)
    entries, tail = read_journal(path)

    step("4: started again, 'No' drops the journal")
    prog = start()
    expect_question(entries, tail)
    answer("Confirm", "No")
    wait_for(lambda: not journals(), f"the journal to go, not {journals()}", timeout=5)
    if value_rows() != 0:
        raise Failure(f"'No' still shows {value_rows()} rows")
    desktop.close_window()  # nothing unsaved: no question
    if prog.wait(timeout=20) != 0:
        raise Failure(f"exit status {prog.returncode}")
    expect_no_journal("after 'No' and a normal close")
    desktop.check_log_clean()


desktop.main(test, "e2e_journal_kill")
