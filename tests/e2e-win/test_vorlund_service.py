"""End-to-end tests of Vorlund.exe under Wine, with the stand-in control and
the desktop driver. Run by ctest as:

    xvfb-run -a python3 test_vorlund_service.py VORLUND.EXE NETO-STANDIN.DLL WIN-DRIVER.EXE
"""

import os
import re
import sys
import time
import unittest

from wine_session import WineSession, is_32_bit, windows_path

TRAY_CLASS = "VorlundTrayIcon"
TRAY_MESSAGE = "0x8001"  # WM_APP + 1
APP_CLASS = "VorlundApplication"
APP_TITLE = "Vorlund"

SESSION = None


def escaped(cp1252):
    """A code page 1252 text as win-driver prints it."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else
                   ("\\\\" if b == 0x5C else "\\x%02X" % b) for b in cp1252)


CANNOT_OPEN_PORT = escaped(b"Kunde inte \xf6ppna COM-port. Kontrollera att ingen annan "
                           b"applikation anv\xe4nder porten.")
CANNOT_START = escaped(b"Kunde inte starta protokoll")
CANNOT_CREATE_EXPORT = escaped(b"Fel vid skapande av destinationsfil!")
NO_SPOOL = escaped(b"Mapp f\xf6r tempor\xe4ra filer kunde ej skapas. Applikationen avslutas")
ALREADY_RUNNING = escaped(b"Vorlund k\xf6rs redan.")
NO_OUTDIR = escaped(b"Utdatamappen finns inte och kunde inte skapas. Applikationen avslutas")
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "app",
                       "win32", "dist", "Vorlund.ini"), encoding="utf-8") as example:
    DIST_SETTINGS = example.read().replace("\n", "\r\n").encode("cp1252")
# The exit code of a process that the stand-in ended as a kill would.
CRASHED = 99
TEARDOWN = ["Unadvise 1", "SetClientSite null", "Close 1", "release"]
# Where the tray icon went in the teardown, seen from the control's close:
# a control that was not detached goes first, before the icon's removal; a
# detached one goes last, after it.
WATCH_ICON = "watch-window %s\n" % TRAY_CLASS


def teardown(icon):
    return TEARDOWN[:3] + ["%s %s" % (TRAY_CLASS, icon)] + TEARDOWN[3:]


def terminal_file(name, data):
    """A file for the stand-in to deliver as X.DAT, named as the control takes it."""
    path = os.path.join(SESSION.root, name)
    with open(path, "wb") as out:
        out.write(data)
    return windows_path(path)


def starts(prefix, times=1):
    return lambda lines: sum(line.startswith(prefix) for line in lines) >= times


class VorlundServiceTest(unittest.TestCase):
    def setUp(self):
        self.runs = []

    def tearDown(self):
        for run in self.runs:
            run.stop()

    def service(self, scenario="", settings=None, show=None):
        run = SESSION.new_service(scenario, settings).start(show)
        self.runs.append(run)
        return run

    def drive(self, *args, expect=0):
        code, output = SESSION.drive(*args)
        self.assertEqual(code, expect, "win-driver %s: %s" % (" ".join(args), output))
        return output

    def box(self, caption, keep=False):
        """Reads the box with `caption` (pressing OK unless `keep`)."""
        output = self.drive("box", caption, "15000", *(["keep"] if keep else []))
        fields = dict(line.split(": ", 1) for line in output.splitlines() if ": " in line)
        return fields

    def tray(self, *events):
        self.drive("tray", TRAY_CLASS, TRAY_MESSAGE, *events)

    def choose_close_item(self):
        self.tray("rdown", "rup")
        self.drive("menu-pick", "0", "5000")

    def assert_info_box(self, text, keep=False):
        box = self.box("Info", keep)
        self.assertEqual(box["text"], text)
        self.assertEqual(box["buttons"], "OK")
        self.assertEqual(box["owner"], APP_CLASS + "|" + APP_TITLE)

    def only_export(self, run):
        """The bytes of the one file in the run's Out."""
        exports = os.listdir(run.path("Out"))
        self.assertEqual(len(exports), 1)
        with open(run.path("Out", exports[0]), "rb") as export:
            return export.read()

    def test_delivery_is_exported_and_reception_restarts(self):
        source = terminal_file("delivery.dat", b"b2;2\r\nA1;1.5\r\nb2;0.25\r\n")
        # The control passes itself first, as Sender: five event arguments.
        run = self.service("with-sender\nafter-download 1 deliver 300 %s\n" % source,
                           b"COM-Port=2\r\nBaudRate=1\r\nUseQuotes=1\r\nSeparator=1\r\n")
        run.wait_for_log(starts("Download 2 "))
        lines = run.calls()

        self.assertEqual(lines[:5],
                         ["create", "GetMiscStatus", "SetClientSite set", "InitNew", "Advise 1"])
        self.assertEqual([line for line in lines if line.startswith("put ")], [
            "put 1 vt=2 3", "put 2 vt=3 9600", "put 3 vt=2 0", "put 4 vt=2 8", "put 5 vt=2 0",
            "put 6 vt=3 250", "put 7 vt=3 -1", "put 9 vt=3 0", "put 8 vt=3 1"])
        request = "id vt=8 &&&&&& dir vt=8 %s type vt=3 1 -> 0" % windows_path(run.path("Spool"))
        self.assertIn("Download 1 " + request, lines)
        self.assertIn("Download 2 " + request, lines)
        # The restart stops the running protocol, 300 ms after the event.
        restart = lines[lines.index("event 1000 end hr=0"):]
        self.assertEqual(restart[1:4], ["IsProtocolRunning -> 1", "StopRunning",
                                        "Download 2 " + request])
        self.assertGreaterEqual(
            run.time_of("Download 2 " + request) - run.time_of("event 1000 end hr=0"), 290)

        self.assertEqual(self.only_export(run), b'"A1";"1.5"\r\n"B2";"2.25"\r\n')
        self.assertTrue(os.path.isfile(run.path("Spool", "X.DAT")))

        self.choose_close_item()
        self.assertEqual(run.wait(), 0)
        lines = run.log()
        self.assertEqual(len([line for line in lines if line.startswith("put ")]), 9)
        self.assertEqual(lines[-4:], TEARDOWN)

    def test_a_failed_conversion_keeps_the_delivery(self):
        source = terminal_file("kept.dat", b"K1;1\r\nK2;2\r\n")
        run = self.service("after-download 1 deliver 1500 %s\n" % source)
        run.wait_for_log(starts("Download 1 "))
        os.rmdir(run.path("Out"))  # the output directory goes away
        # Kept before the message is shown, so pressing OK loses nothing.
        self.assert_info_box(CANNOT_CREATE_EXPORT, keep=True)
        kept = os.listdir(run.path("Spool", "Okonverterade"))
        self.assertEqual(len(kept), 1)
        self.assertRegex(kept[0], r"^\d{8}-\d{6}-50\.DAT$")
        for path in (run.path("Spool", "Okonverterade", kept[0]), run.path("Spool", "X.DAT")):
            with open(path, "rb") as copy:
                self.assertEqual(copy.read(), b"K1;1\r\nK2;2\r\n")
        self.assert_info_box(CANNOT_CREATE_EXPORT)
        run.wait_for_log(starts("Download 2 "))
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_a_killed_service_exports_its_delivery_once_after_the_restart(self):
        first = terminal_file("crashed.dat", b"C1;1\r\nC2;2\r\n")
        second = terminal_file("unannounced.dat", b"D1;4\r\n")
        # Killed as the conversion starts: recorded, not yet exported.
        run = self.service("after-download 1 deliver 300 %s\ncrash-at conversion\n"
                           % first)
        self.assertEqual(run.wait(), CRASHED)
        self.assertEqual(run.log()[-1], "crash at conversion")
        with open(run.path("Spool", "Leveranser.log")) as ledger:
            self.assertEqual([line.split()[:2] for line in ledger], [["1", "received"]])
        self.assertEqual(os.listdir(run.path("Out")), [])

        # The restart exports it before its first reception; then the control
        # writes the next delivery and dies before it can report it.
        run.restart("after-download 1 deliver 300 %s\ncrash-at arrival\n" % second)
        self.assertEqual(run.wait(timeout=30), CRASHED)
        self.assertEqual(run.log()[-2:], ["deliver ok", "crash at arrival"])
        self.assertEqual(self.only_export(run), b"C1,1\r\nC2,2\r\n")
        exports = os.listdir(run.path("Out"))
        self.assertFalse(os.path.exists(run.path("Spool", "Okonverterade")))

        # Whether that X.DAT was written whole nobody can tell: kept, not
        # converted.
        run.restart()
        run.wait_for_log(starts("Download 1 ", times=3), timeout=30)
        self.assertEqual(os.listdir(run.path("Out")), exports)
        kept = os.listdir(run.path("Spool", "Okonverterade"))
        self.assertEqual(len(kept), 1)
        self.assertRegex(kept[0], r"^\d{8}-\d{6}-U\.DAT$")
        with open(run.path("Spool", "Okonverterade", kept[0]), "rb") as copy:
            self.assertEqual(copy.read(), b"D1;4\r\n")
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_code_30_is_reported_and_reception_restarts_after_ok(self):
        # Arguments by reference: msgCode must be read whatever its form.
        run = self.service("by-reference\nafter-download 1 report 200 30\n")
        self.assert_info_box(CANNOT_OPEN_PORT, keep=True)
        # The control waits inside its event while the box is open.
        lines = run.log()
        self.assertIn("event 30 begin", lines)
        self.assertNotIn("event 30 end hr=0", lines)
        self.assertFalse(starts("Download 2")(lines))

        self.assert_info_box(CANNOT_OPEN_PORT)
        run.wait_for_log(starts("Download 2 "))
        lines = run.calls()
        after = lines[lines.index("event 30 end hr=0") + 1:]
        self.assertEqual(after[0], "IsProtocolRunning -> 0")
        self.assertTrue(after[1].startswith("Download 2 "))
        self.assertGreaterEqual(run.time_of(after[1]) - run.time_of("event 30 end hr=0"), 290)

        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_tray_clicks_and_closing_from_the_menu(self):
        # With the example settings of the release zip, which must leave
        # every key at its default.
        run = self.service(WATCH_ICON, settings=DIST_SETTINGS)
        run.wait_for_log(starts("Download 1 "))
        self.assertEqual(run.log()[5:7], ["put 1 vt=2 1", "put 2 vt=3 115200"])
        self.drive("tray-present", TRAY_CLASS, "5000")
        for events in (["rup"], ["ldown", "lup"], ["ldbl"], ["mdown", "mup", "mdbl"], ["move"],
                       ["rdbl", "rup"]):
            self.tray(*events)
            self.drive("no-menu", "400")

        # Dismissing the menu changes nothing.
        self.tray("rdown", "rup")
        self.drive("menu-dismiss", "5000")
        self.drive("no-menu", "400")
        self.assertTrue(run.running())
        self.assertNotIn("StopRunning", run.log())

        self.choose_close_item()
        self.assertEqual(run.wait(), 0)
        lines = run.calls()
        self.assertEqual(lines[-7:], ["IsProtocolRunning -> 1", "StopRunning"] + teardown("absent"))
        self.assertGreaterEqual(run.time_of("Unadvise 1") - run.time_of("StopRunning"), 990)
        self.assertFalse(starts("Download 2")(lines))

    def test_close_request_ends_at_once_without_stopping(self):
        run = self.service(WATCH_ICON)
        run.wait_for_log(starts("Download 1 "))
        posted = int(self.drive("close", APP_CLASS, APP_TITLE).split()[-1])
        self.assertEqual(run.wait(), 0)
        # No one-second wait before the teardown.
        self.assertLess(run.time_of("Unadvise 1") - posted, 900)
        lines = run.log()
        self.assertNotIn("StopRunning", lines)
        self.assertFalse(starts("IsProtocolRunning")(lines))
        self.assertEqual(lines[-5:], teardown("present"))

    def test_spool_taken_by_a_file_ends_with_exit_code_1(self):
        run = SESSION.new_service(WATCH_ICON)
        with open(run.path("Spool"), "w"):
            pass
        self.runs.append(run.start())
        self.assert_info_box(NO_SPOOL, keep=True)
        # The icon is already there while the message is open.
        self.drive("tray-present", TRAY_CLASS, "3000")
        self.assert_info_box(NO_SPOOL)
        self.assertEqual(run.wait(), 1)
        self.assertEqual(run.log()[-5:], teardown("present"))
        self.assertFalse(starts("put ")(run.log()))

    def test_outdir_two_levels_deep_ends_with_exit_code_2(self):
        run = self.service(settings=b"OutDir=" + windows_path(
            os.path.join(SESSION.root, "missing", "deeper")).encode() + b"\r\n")
        self.assert_info_box(NO_OUTDIR)
        self.assertEqual(run.wait(), 2)
        self.assertTrue(os.path.isdir(run.path("Spool")))

    def test_control_not_installed_ends_with_application_error(self):
        SESSION.unregister()
        try:
            run = self.service()
            box = self.box("Application Error")
            # The address has as many hex digits as the program's pointers.
            digits = 8 if is_32_bit(SESSION.vorlund) else 16
            self.assertRegex(box["text"], r"^Exception ControlError in module Vorlund\.exe at "
                                          r"[0-9A-F]{%d}\.\\x0A.+\.$" % digits)
            self.assertEqual(box["owner"], "none")
            self.assertEqual(run.wait(), 0)
        finally:
            SESSION.register()

    def test_refused_property_halts_the_cycle_and_the_service_stays(self):
        run = self.service("refuse-property 3\n")
        box = self.box(APP_TITLE, keep=True)
        self.assertEqual(box["text"], "Invalid property value.")
        self.assertEqual(box["owner"], APP_CLASS + "|" + APP_TITLE)
        self.box(APP_TITLE)
        self.drive("no-box", "*", "500")
        lines = run.calls()
        self.assertEqual([line for line in lines if line.startswith("put ")],
                         ["put 1 vt=2 1", "put 2 vt=3 115200", "put 3 vt=2 0 refused"])
        self.assertFalse(starts("Download")(lines))

        self.assertTrue(run.running())
        self.choose_close_item()
        self.assertEqual(run.wait(), 0)
        self.assertEqual(run.calls()[len(lines):], ["IsProtocolRunning -> 0"] + TEARDOWN)

    def test_refused_first_start_closes_the_service(self):
        run = self.service("download-status 1 -1\n")
        self.assert_info_box(CANNOT_START)
        self.assertEqual(run.wait(), 0)
        lines = run.log()
        self.assertFalse(starts("Download 2")(lines))
        self.assertEqual(lines[-4:], TEARDOWN)

    def test_other_codes_change_nothing(self):
        run = self.service("after-download 1 report 100 999 0\nafter-download 1 report 150 -1\n"
                           "after-download 1 report 200 2000\n")
        run.wait_for_log(lambda lines: "event 2000 end hr=0" in lines)
        self.drive("no-box", "*", "600")
        lines = run.calls()
        self.assertFalse(starts("IsProtocolRunning")(lines))
        self.assertFalse(starts("Download 2")(lines))
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_download_failing_outright_halts_the_cycle(self):
        # A call that fails, and one whose answer reads as no number.
        for scenario in ("refuse-download 1\n", "odd-result 1\n"):
            with self.subTest(scenario=scenario):
                run = self.service(scenario)
                box = self.box(APP_TITLE)
                self.assertTrue(box["text"].endswith("."), box["text"])
                self.assertEqual(box["owner"], APP_CLASS + "|" + APP_TITLE)
                self.drive("no-box", "*", "500")
                self.assertTrue(run.running())
                self.choose_close_item()
                self.assertEqual(run.wait(), 0)
                lines = run.calls()
                self.assertEqual(len([line for line in lines if line.startswith("Download")]), 1)
                self.assertEqual(lines[-5:], ["IsProtocolRunning -> 0"] + TEARDOWN)
                # The answer that could not be read was released all the same.
                if scenario.startswith("odd-result"):
                    self.assertIn("result released", lines)

    def test_icon_returns_when_the_notification_area_restarts(self):
        run = self.service()
        self.drive("tray-present", TRAY_CLASS, "5000")
        self.drive("tray-remove", TRAY_CLASS)
        self.drive("tray-present", TRAY_CLASS, "300", expect=1)
        self.drive("taskbar-created")
        self.drive("tray-present", TRAY_CLASS, "5000")
        self.choose_close_item()
        self.assertEqual(run.wait(), 0)

    def test_spool_path_reaches_the_control_in_the_systems_code_page(self):
        # A Russian system: its ANSI code page is 1251, where the byte that
        # the program's path holds for "Д" would be "Ä" in code page 1252.
        source = terminal_file("delivery-ru.dat", b"A;1\r\n")
        run = SESSION.new_service("after-download 1 deliver 100 %s\n" % source,
                                  folder="\u0414\u0435\u043f\u043e")
        run.env.update(SESSION.locale("ru_RU"))
        self.runs.append(run.start())
        run.wait_for_log(lambda lines: "event 1000 end hr=0" in lines)
        self.assertIn("Download 1 id vt=8 &&&&&& dir vt=8 %s type vt=3 1 -> 0"
                      % windows_path(run.path("Spool")), run.log())
        self.assertIn("deliver ok", run.log())
        self.drive("no-box", "*", "500")
        self.assertEqual(self.only_export(run), b"A,1\r\n")
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)

    def test_one_copy_per_application_directory(self):
        run = self.service()
        run.wait_for_log(starts("Download 1 "))
        copy = run.start_copy()
        try:
            self.assert_info_box(ALREADY_RUNNING)
            self.assertEqual(copy.wait(timeout=20), 0)
        finally:
            if copy.poll() is None:
                copy.kill()
                copy.wait()
        # The copy made no control of its own (each creation is logged).
        self.assertEqual(run.log().count("create"), 1)
        self.assertTrue(run.running())

        # Another directory is another installation: it runs beside the first.
        other = self.service()
        other.wait_for_log(starts("Download 1 "))
        self.drive("no-box", "*", "500")
        self.assertTrue(run.running())
        for _ in range(2):
            self.drive("close", APP_CLASS, APP_TITLE)
            deadline = time.monotonic() + 20
            while run.running() and other.running() and time.monotonic() < deadline:
                time.sleep(0.05)
        self.assertEqual((run.wait(), other.wait()), (0, 0))

    def test_started_maximized_shows_no_window(self):
        run = self.service(show="maximized")
        run.wait_for_log(starts("Download 1 "))
        self.drive("visible", APP_CLASS, APP_TITLE)
        self.drive("close", APP_CLASS, APP_TITLE)
        self.assertEqual(run.wait(), 0)


def main():
    global SESSION
    vorlund, standin, driver = sys.argv[1:4]
    SESSION = WineSession(vorlund, standin, driver)
    try:
        program = unittest.main(module=__name__, argv=[sys.argv[0], "-v"] + sys.argv[4:], exit=False)
    finally:
        SESSION.close()
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
