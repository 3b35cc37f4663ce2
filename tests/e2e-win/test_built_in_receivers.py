"""End-to-end tests of Vorlund.exe receiving with its own control, which the
Protocol key of Vorlund.ini chooses, under Wine: the terminal is lrzsz's sz
on one end of the serial line of the tests (tools/faulty-line, without
faults), paced at 115200 baud; Wine's registry makes the line's other end
COM11 (COM-Port=10, a port that only \\\\.\\COM11 opens). Run by ctest as:

    xvfb-run -a python3 test_built_in_receivers.py VORLUND.EXE NETO-STANDIN.DLL \\
        WIN-DRIVER.EXE FAULTY_LINE [TEST ...]
"""

import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
import unittest

from test_vorlund_service import (APP_CLASS, APP_TITLE, CANNOT_CREATE_EXPORT, CANNOT_OPEN_PORT,
                                  TRAY_CLASS, TRAY_MESSAGE)
from wine_session import WineSession

PORT = "COM11"
SETTINGS = b"Protocol=auto\r\nCOM-Port=10\r\nBaudRate=5\r\n"
SESSION = None
FAULTY_LINE = None


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("waited %s s in vain for %s" % (timeout, what))
        time.sleep(0.05)


class Line:
    """The line between the terminal and COM11, paced at `baud` bit/s
    (None: as fast as the pseudo-terminals go). With VORLUND_LINE_TRACE set,
    each line writes its trace to that path and its number."""

    made = 0

    def __init__(self, baud=115200):
        self.service_side = os.path.join(SESSION.root, "line")
        self.terminal = os.path.join(SESSION.root, "terminal")
        self.log = os.path.join(SESSION.root, "line.log")
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                [FAULTY_LINE, self.service_side, self.terminal, "1"] +
                (["baud=%d" % baud] if baud else []) +
                (["trace=%s.%d" % (os.environ["VORLUND_LINE_TRACE"], Line.made)]
                 if os.environ.get("VORLUND_LINE_TRACE") else []), stderr=log)
        Line.made += 1
        wait_for(lambda: os.path.exists(self.service_side) and os.path.exists(self.terminal), 5,
                 "the line")

    def stop(self):
        """Ends the line; the bytes it passed towards the service."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=10)
        with open(self.log) as log:
            found = re.search(r"terminal->service: (\d+) bytes passed", log.read())
        return int(found.group(1)) if found else None

    def await_invitation(self, timeout=20):
        """Waits until the service asks for a file. A ZMODEM sender that reads
        an invitation after its own request falls back to YMODEM, as lrzsz's
        sz does; so a ZMODEM sender starts once it has been invited, as a
        terminal docked at any other moment would."""
        fd = os.open(self.terminal, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                if select.select([fd], [], [], 0.2)[0] and set(os.read(fd, 64)) & {0x43, 0x15}:
                    return
        finally:
            os.close(fd)
        raise AssertionError("no invitation from the service")

    def sender(self, options, name):
        """sz sending `name` from the session's folder of files."""
        fd = os.open(self.terminal, os.O_RDWR | os.O_NOCTTY)
        try:
            with open(os.path.join(SESSION.root, "sz.log"), "ab") as log:
                return subprocess.Popen(["sz", *options, name], cwd=SESSION.root, stdin=fd,
                                        stdout=fd, stderr=log)
        finally:
            os.close(fd)

    def send(self, options, name, timeout=60):
        sender = self.sender(options, name)
        try:
            status = sender.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            sender.kill()
            sender.wait()
            raise AssertionError("sz %s %s did not end: %s" % (" ".join(options), name, sz_log()))
        if status != 0:
            print("sz %s %s: exit %d: %s" % (" ".join(options), name, status, sz_log()))
        return status


def sz_log():
    """The end of what the senders wrote, for a failure's message."""
    with open(os.path.join(SESSION.root, "sz.log"), "rb") as log:
        return log.read()[-600:].decode("latin-1").replace("\r", "\n")


def terminal_file(number, lines):
    """File `number`: lines of article codes of its own, so that its export is known."""
    name = "f%d.dat" % number
    with open(os.path.join(SESSION.root, name), "wb") as out:
        for i in range(1, lines + 1):
            out.write(b"Z%dA%06d;%d\r\n" % (number, i, i % 7 + 1))
    return name


def read(path):
    with open(path, "rb") as f:
        return f.read()


class BuiltInReceiversTest(unittest.TestCase):
    def setUp(self):
        self.runs = []
        self.line = None

    def tearDown(self):
        for run in self.runs:
            run.stop()
        if self.line:
            self.line.stop()

    def service(self):
        run = SESSION.new_service(settings=SETTINGS).start()
        self.runs.append(run)
        return run

    def drive(self, *args, expect=0):
        code, output = SESSION.drive(*args)
        self.assertEqual(code, expect, "win-driver %s: %s" % (" ".join(args), output))
        return output

    def info_box(self, text, keep=False):
        output = self.drive("box", "Info", "15000", *(["keep"] if keep else []))
        self.assertIn("text: %s\n" % text, output)

    def exports_of(self, run, number):
        """How many exports hold file `number`'s lines."""
        found = 0
        out = run.path("Out")
        for name in os.listdir(out) if os.path.isdir(out) else []:
            if not name.startswith(".") and read(os.path.join(out, name)).startswith(
                    b"Z%dA" % number):
                found += 1
        return found

    def assert_delivered_once(self, run, number, name):
        wait_for(lambda: self.exports_of(run, number) >= 1, 15, "the export of " + name)
        self.assertEqual(self.exports_of(run, number), 1, name)
        self.assertEqual(read(run.path("Spool", "X.DAT")), read(os.path.join(SESSION.root, name)))

    def staged(self, run):
        """The size of the transfer under way, in its staged file; 0 for none."""
        sizes = [os.path.getsize(run.path("Spool", name)) for name in os.listdir(run.path("Spool"))
                 if name.startswith(".X.DAT.")]
        return max(sizes, default=0)

    def close(self, run):
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_every_sender_delivers_once_on_a_paced_line(self):
        self.line = Line()
        run = self.service()
        for number, options in enumerate([[], ["--ymodem"], ["--xmodem"]], 1):
            name = terminal_file(number, 60)
            if not options:
                self.line.await_invitation()
            self.assertEqual(self.line.send(options, name), 0, options)
            self.assert_delivered_once(run, number, name)
        self.close(run)

    def test_the_line_is_served_while_the_menu_or_a_box_is_open(self):
        self.line = Line()
        run = self.service()
        self.line.await_invitation()
        # The tray menu's own loop runs the whole cycle: delivery, export and
        # the restart that takes the next one.
        self.drive("tray", TRAY_CLASS, TRAY_MESSAGE, "rdown", "rup")
        self.drive("no-menu", "5000", expect=1)
        for number in (1, 2):
            name = terminal_file(number, 60)
            self.line.await_invitation()
            self.assertEqual(self.line.send([], name), 0)
            self.assert_delivered_once(run, number, name)
        self.drive("no-menu", "500", expect=1)
        self.drive("menu-dismiss", "5000")

        # A failed conversion's box: the sender's end of batch is answered
        # while it is open, which settles the delivery in the ledger.
        os.rename(run.path("Out"), run.path("Out.1"))
        name = terminal_file(3, 60)
        self.line.await_invitation()
        sender = self.line.sender([], name)
        self.info_box(CANNOT_CREATE_EXPORT, keep=True)
        self.assertEqual(sender.wait(timeout=30), 0)
        ledger = read(run.path("Spool", "Leveranser.log")).splitlines()
        self.assertRegex(ledger[-1], rb"^3 kept .* file=Spool\\Okonverterade\\\d{8}-\d{6}-50\.DAT ")
        self.assertNotIn(b" candidate=1 ", ledger[-1])
        self.drive("box", "Info", "1000", "keep")
        self.info_box(CANNOT_CREATE_EXPORT)
        os.mkdir(run.path("Out"))

        # "Stäng Vorlund" stops the reception and ends the program.
        self.drive("tray", TRAY_CLASS, TRAY_MESSAGE, "rdown", "rup")
        self.drive("menu-pick", "0", "5000")
        self.assertEqual(run.wait(), 0)

    def test_a_killed_service_exports_each_delivery_once(self):
        # Killed in the middle of a transfer: what it had is thrown away,
        # and the file sent again arrives whole, once.
        self.line = Line()
        run = self.service()
        name = terminal_file(1, 4000)
        self.line.await_invitation()
        sender = self.line.sender([], name)
        wait_for(lambda: self.staged(run) > 20000, 30, "the transfer to get going")
        run.stop()
        sender.kill()
        sender.wait()
        # What the sender had on its way drains into the dead port, as it
        # would while a terminal is docked again.
        time.sleep(1)
        run.restart()
        self.line.await_invitation()
        self.assertEqual(self.staged(run), 0)
        self.assertEqual(self.line.send([], name), 0)
        self.assert_delivered_once(run, 1, name)
        self.close(run)

        # Killed once the delivery is recorded, before its export is: the
        # restart exports it, and the terminal that was never told sends it
        # again, which is acknowledged and not exported a second time.
        self.line.stop()
        self.line = Line(baud=None)
        ledger = run.path("Spool", "Leveranser.log")
        name = terminal_file(2, 150000)
        run.restart()
        self.line.await_invitation()
        sender = self.line.sender([], name)
        # Looked for as often as it can be: the export takes a few tens of
        # milliseconds.
        deadline = time.monotonic() + 60
        while b"\n2 received " not in read(ledger) and time.monotonic() < deadline:
            time.sleep(0.001)
        run.stop()
        sender.kill()
        sender.wait()
        interrupted = read(ledger).splitlines()[-1].split()[:2]
        self.assertIn(interrupted, ([b"2", b"received"], [b"2", b"exporting"]))
        self.assertEqual(self.exports_of(run, 2), 0)
        run.restart()
        self.line.await_invitation()
        self.assertEqual(self.exports_of(run, 2), 1)
        self.assertEqual(self.line.send([], name), 0)
        time.sleep(1)
        self.assert_delivered_once(run, 2, name)
        self.close(run)

    def test_a_cut_transfer_goes_on_where_it_stopped(self):
        # The terminal lifted out of its cradle after 20 KB of 60; docked
        # again, it offers the file with crash recovery, and only the rest
        # crosses the line.
        self.line = Line()
        run = self.service()
        name = terminal_file(1, 4000)
        size = os.path.getsize(os.path.join(SESSION.root, name))
        self.line.await_invitation()
        sender = self.line.sender([], name)
        wait_for(lambda: self.staged(run) > 20000, 30, "the transfer to get going")
        sender.kill()
        sender.wait()
        # The line goes quiet once what was on its way has arrived.
        last = -1
        while self.staged(run) != last:
            last = self.staged(run)
            time.sleep(1.2)
        self.assertEqual(self.line.send(["-r"], name), 0)
        self.assert_delivered_once(run, 1, name)
        passed = self.line.stop()
        self.line = None
        self.assertLess(passed, size + last // 2)
        self.close(run)

    def test_a_port_missing_or_gone_is_taken_again_once_it_is_there(self):
        run = self.service()
        for number in (1, 2):
            # Missing at the start, then gone as an adapter pulled out.
            self.info_box(CANNOT_OPEN_PORT, keep=True)
            self.line = Line()
            # Tried again 300 ms after OK, and now the port is there.
            self.info_box(CANNOT_OPEN_PORT)
            self.line.await_invitation()
            name = terminal_file(number, 60)
            self.assertEqual(self.line.send([], name), 0)
            self.assert_delivered_once(run, number, name)
            self.drive("no-box", "Info", "500")
            self.line.stop()
            self.line = None
        self.info_box(CANNOT_OPEN_PORT)
        self.close(run)


def main():
    global SESSION, FAULTY_LINE
    vorlund, standin, driver, FAULTY_LINE = sys.argv[1:5]
    if not shutil.which("sz"):
        print("lrzsz's sz is needed (Debian: lrzsz)")
        sys.exit(1)
    SESSION = WineSession(vorlund, standin, driver, ports={PORT: "line"})
    try:
        program = unittest.main(module=__name__, argv=[sys.argv[0], "-v"] + sys.argv[5:],
                                exit=False)
    finally:
        SESSION.close()
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
