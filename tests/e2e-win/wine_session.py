"""One throwaway Wine prefix for a test session, the stand-in control
registered in it, and runs of Vorlund.exe in fresh application directories.

The driver program (win-driver.exe) acts as the user and the desktop; the
stand-in control logs every call it gets, and the tests read that log."""

import os
import select
import shutil
import subprocess
import tempfile
import time

WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                        "wine-run")


# No session outlives this, even when the run is killed (seconds).
SESSION_LIMIT = 600


def run_wine(env, *args, timeout=30):
    """Runs a Windows program; its exit code and its output with Unix line ends."""
    result = subprocess.run([WINE_RUN, *args], env=env, capture_output=True, timeout=timeout)
    return result.returncode, result.stdout.decode("latin-1").replace("\r\n", "\n")


def windows_path(path):
    """The Wine drive Z: view of a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def is_32_bit(program):
    """True for a PE32 (i686) program or library, False for PE32+."""
    with open(program, "rb") as image:
        header = image.read(4096)
    pe = int.from_bytes(header[0x3C:0x40], "little")
    return header[pe + 24:pe + 26] == b"\x0b\x01"


class WineSession:
    def __init__(self, vorlund, standin, driver, ports=None):
        """`ports` maps COM port names to the Unix devices that stand for them,
        as paths in the session's folder."""
        self.root = tempfile.mkdtemp(prefix="vorlund-e2e-")
        self.tray_keeper = None
        self.server = None
        try:
            self._start(vorlund, standin, driver, ports or {})
        except BaseException:
            self.close()
            raise

    def _start(self, vorlund, standin, driver, ports):
        self.vorlund = vorlund
        self.standin = os.path.join(self.root, "neto-standin.dll")
        self.driver = os.path.join(self.root, "win-driver.exe")
        shutil.copy(standin, self.standin)
        self.standin_32 = is_32_bit(standin)
        shutil.copy(driver, self.driver)
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = os.path.join(self.root, "prefix")
        self.env["WINEDEBUG"] = "-all"
        os.makedirs(self.env["WINEPREFIX"])
        # One server for the whole session, so each program starts quickly;
        # it lingers a few seconds at most once the last program has ended.
        subprocess.run(["wineserver", "-p5"], env=self.env, check=True, timeout=30)
        subprocess.run([WINE_RUN, "wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if ports:
            self.map_ports(ports)
        self.register()
        self.runs = 0
        self.tray_keeper = subprocess.Popen([WINE_RUN, self.driver, "keep-tray", str(SESSION_LIMIT)], env=self.env,
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        assert self.tray_keeper.stdout.readline().strip() == b"keeping"
        # One driver answers every command of the session.
        self.server = subprocess.Popen([WINE_RUN, self.driver, "serve"], env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        self.pending = b""

    def close(self):
        if self.server:
            self.server.stdin.close()
            try:
                self.server.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        if self.tray_keeper:
            self.tray_keeper.kill()
            self.tray_keeper.wait()
        if os.path.isdir(os.path.join(self.root, "prefix")):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        shutil.rmtree(self.root, ignore_errors=True)

    def map_ports(self, ports):
        """Wine's mount manager makes a COM port of any device the registry
        names, as it starts: the server is started afresh to read the map."""
        for name, device in ports.items():
            device = os.path.join(self.root, device)
            code, _ = self.wine("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", name, "/t",
                                "REG_SZ", "/d", device, "/f")
            assert code == 0, "%s could not be mapped to %s" % (name, device)
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        subprocess.run(["wineserver", "-p5"], env=self.env, check=True, timeout=30)

    def wine(self, *args, timeout=30):
        return run_wine(self.env, *args, timeout=timeout)

    def regsvr32(self):
        """The registration tool of the stand-in's own bitness: a 32-bit
        server is registered in the 32-bit view of the registry."""
        return "C:\\windows\\syswow64\\regsvr32.exe" if self.standin_32 else "regsvr32"

    def register(self):
        code, _ = self.wine(self.regsvr32(), "/s", windows_path(self.standin))
        assert code == 0, "the stand-in control could not be registered"

    def unregister(self):
        code, _ = self.wine(self.regsvr32(), "/s", "/u", windows_path(self.standin))
        assert code == 0, "the stand-in control could not be unregistered"

    def drive(self, *args, timeout=30):
        """Runs one win-driver command; returns (exit code, output)."""
        self.server.stdin.write(("\t".join(args) + "\n").encode("latin-1"))
        self.server.stdin.flush()
        deadline = time.monotonic() + timeout
        lines = []
        while True:
            line = self._answer_line(deadline, args)
            if line.startswith("=== "):
                return int(line[4:]), "".join(text + "\n" for text in lines)
            lines.append(line)

    def _answer_line(self, deadline, args):
        out = self.server.stdout.fileno()
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([out], [], [], left)[0]:
                raise AssertionError("win-driver %s: no answer in time" % " ".join(args))
            chunk = os.read(out, 4096)
            if not chunk:
                raise AssertionError("win-driver ended during %s" % " ".join(args))
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def new_service(self, scenario="", settings=None, folder="app"):
        self.runs += 1
        return ServiceRun(self, os.path.join(self.root, "run%d" % self.runs), scenario, settings,
                          folder)

    def locale(self, name):
        """The environment of a program that runs on a system of that
        language (its ANSI code page with it); the locale is made once."""
        path = os.path.join(self.root, "locales")
        if not os.path.isdir(os.path.join(path, name + ".UTF-8")):
            os.makedirs(path, exist_ok=True)
            subprocess.run(["localedef", "-i", name, "-f", "UTF-8",
                            os.path.join(path, name + ".UTF-8")], check=True, timeout=60,
                           stdout=subprocess.DEVNULL)
        return {"LOCPATH": path, "LC_ALL": name + ".UTF-8"}


class ServiceRun:
    """Vorlund.exe copied into an application directory of its own."""

    def __init__(self, session, directory, scenario, settings, folder):
        self.session = session
        self.app_dir = os.path.join(directory, folder)
        os.makedirs(self.app_dir)
        self.exe = os.path.join(self.app_dir, "Vorlund.exe")
        shutil.copy(session.vorlund, self.exe)
        self.log_path = os.path.join(directory, "standin.log")
        self.scenario_path = os.path.join(directory, "scenario.txt")
        with open(self.scenario_path, "w") as out:
            out.write(scenario)
        if settings is not None:
            with open(os.path.join(self.app_dir, "Vorlund.ini"), "wb") as out:
                out.write(settings)
        self.env = dict(session.env)
        self.env["VORLUND_STANDIN_SCENARIO"] = windows_path(self.scenario_path)
        self.env["VORLUND_STANDIN_LOG"] = windows_path(self.log_path)
        self.process = None

    def start(self, show=None):
        """Starts the service; with `show` (maximized, minimized) through the
        driver, which passes that show command and returns the exit code."""
        command = [WINE_RUN, self.exe] if show is None else [
            WINE_RUN, self.session.driver, "run", show, windows_path(self.exe)]
        self.process = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        return self

    def restart(self, scenario=""):
        """Starts Vorlund.exe again in the same directory, as after a crash,
        with the stand-in following `scenario` now; its log goes on."""
        with open(self.scenario_path, "w") as out:
            out.write(scenario)
        return self.start()

    def start_copy(self):
        """Starts the same Vorlund.exe once more; returns that process."""
        return subprocess.Popen([WINE_RUN, self.exe], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def wait(self, timeout=20):
        """The exit code; the process is killed when it does not end in time."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("Vorlund.exe did not end within %s s" % timeout)

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.process and self.running():
            self.process.kill()
            self.process.wait()

    def timed_log(self):
        """The stand-in's log as (milliseconds, line) pairs."""
        try:
            with open(self.log_path, encoding="utf-8") as log:
                records = log.read().splitlines()
        except FileNotFoundError:
            return []
        return [(int(stamp), line) for stamp, line in (r.split(" ", 1) for r in records)]

    def log(self):
        return [line for _, line in self.timed_log()]

    def calls(self):
        """The log without the name look-ups, which come once per method."""
        return [line for line in self.log() if not line.startswith("GetIDsOfNames ")]

    def time_of(self, line):
        """When the first log line equal to `line` was written, in ms."""
        return next(stamp for stamp, text in self.timed_log() if text == line)

    def wait_for_log(self, predicate, timeout=10):
        """Polls the stand-in's log until `predicate(lines)` holds."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.log()
            if predicate(lines):
                return lines
            if time.monotonic() > deadline:
                raise AssertionError("log never matched; it reads:\n" + "\n".join(lines))
            time.sleep(0.05)

    def path(self, *parts):
        return os.path.join(self.app_dir, *parts)
