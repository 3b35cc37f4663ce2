"""The processes that faulty_line_test.py drives: the service, which it kills
and starts again as a service manager would, on a wall clock the harness can
step; the faulty line, which it can ask to drop; and the terminal's sender,
whose progress it follows so that it can strike at a chosen block of a
chosen file."""

import os
import re
import signal
import subprocess
import threading
import time

# How long a closing service may take: the next restart tick, its one
# second's wait, and room for a busy machine.
CLOSE_TIMEOUT = 15


# Debian's libfaketime: the wall clock of the process it is preloaded into,
# read from a file on every call, so that a running service's clock can be
# stepped; its monotonic clock is left alone, as a real clock step leaves it.
FAKETIME = "/usr/lib/%s/faketime/libfaketime.so.1"


class Clock:
    """The service's wall clock: the real one moved by an offset in seconds,
    which the harness steps as a box's clock is set, or is wrong after a
    start without a hardware clock."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.steps = 0
        arch = subprocess.run(["gcc", "-print-multiarch"], capture_output=True,
                              text=True).stdout.strip() or "x86_64-linux-gnu"
        self.library = FAKETIME % arch
        self._write()

    def step(self, seconds):
        self.offset += seconds
        self.steps += 1
        self._write()

    def environment(self):
        if not os.path.exists(self.library):
            raise RuntimeError("libfaketime is missing: " + self.library)
        return dict(os.environ, LD_PRELOAD=self.library, FAKETIME_TIMESTAMP_FILE=self.path,
                    FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1",
                    # A file keeps the time it was written, whatever the clock does later.
                    NO_FAKE_STAT="1")

    def _write(self):
        with open(self.path + ".new", "w") as f:
            f.write("%+ds\n" % self.offset)
        os.replace(self.path + ".new", self.path)


class Service:
    """The real vorlund in its application directory, on `clock`, its
    messages appended to one log across every start, as the journal keeps
    them."""

    def __init__(self, binary, cwd, log_path, clock):
        self.binary = binary
        self.cwd = cwd
        self.log_path = log_path
        self.clock = clock
        self.kills = 0
        self.terms = 0
        self.died = []  # exit statuses of starts that ended by themselves
        self.process = None
        self.started = 0.0
        self.start()

    def start(self):
        with open(self.log_path, "a") as log:
            self.process = subprocess.Popen([self.binary], stderr=log, cwd=self.cwd,
                                            env=self.clock.environment())
        self.started = time.monotonic()

    def check_alive(self):
        """A service that ended by itself is noted and started again, so that
        the run goes on and the failure is reported with the rest."""
        status = self.process.poll()
        if status is not None:
            self.died.append(status)
            self.start()

    def kill_and_restart(self):
        self.check_alive()
        self.process.kill()
        self.process.wait()
        self.kills += 1
        self.start()

    def close_and_restart(self):
        self.check_alive()
        status = self._close()
        self.terms += 1
        if status != 0:
            self.died.append(status)
        self.start()

    def stop(self):
        self.check_alive()
        status = self._close()
        if status != 0:
            self.died.append(status)

    def up_for(self):
        return time.monotonic() - self.started

    def _close(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=CLOSE_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return "no close within %d s" % CLOSE_TIMEOUT


class Line:
    """tools/faulty-line between the service's link and the terminal's."""

    DROP = re.compile(r"^faulty_line drop: (\d+) ms, (.*), away (\d+) ms$")

    def __init__(self, binary, service_link, terminal_link, seed, faults, log_path):
        self.log_path = log_path
        with open(log_path, "w") as log:
            self.process = subprocess.Popen(
                [binary, service_link, terminal_link, str(seed)] + faults.split(), stderr=log)
        limit = time.monotonic() + 10
        while not (os.path.exists(service_link) and os.path.exists(terminal_link)):
            if time.monotonic() > limit or self.process.poll() is not None:
                raise RuntimeError("faulty_line did not start: see " + log_path)
            time.sleep(0.02)

    def drop(self):
        self.process.send_signal(signal.SIGUSR1)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)

    def drops(self):
        """Each drop made: (monotonic seconds, cause)."""
        found = []
        with open(self.log_path) as log:
            for line in log:
                match = self.DROP.match(line.rstrip("\n"))
                if match:
                    found.append((int(match.group(1)) / 1000, match.group(2)))
        return found

    def summary(self):
        with open(self.log_path) as log:
            return [line for line in log if not self.DROP.match(line.rstrip("\n"))]


class Sender:
    """sz sending `names` (in `cwd`) from the terminal's end of the line.
    Its progress on standard error tells which file it is at, how many
    blocks of it have gone, and which files' ends were acknowledged: sz
    reports a file's bytes sent only once its end was."""

    SECTORS = re.compile(r"sectors/kbytes sent:\s*(\d+)/")

    def __init__(self, terminal, options, names, cwd):
        self._lock = threading.Lock()
        self._current = None
        self._sectors = 0
        self._acknowledged = []
        with open(terminal, "r+b", buffering=0) as tty:
            self.process = subprocess.Popen(["sz"] + options + names, stdin=tty, stdout=tty,
                                            stderr=subprocess.PIPE, cwd=cwd)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def progress(self):
        """(the file being sent, its blocks sent so far)."""
        with self._lock:
            return self._current, self._sectors

    def acknowledged(self):
        with self._lock:
            return list(self._acknowledged)

    def poll(self):
        return self.process.poll()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()

    def wait(self):
        status = self.process.wait()
        self._reader.join(timeout=5)
        return status

    def _read(self):
        partial = ""
        for chunk in iter(lambda: self.process.stderr.read1(4096), b""):
            partial += chunk.decode("latin-1")
            *pieces, partial = re.split(r"[\r\n]", partial)
            for piece in pieces:
                self._take(piece)
        self._take(partial)

    def _take(self, piece):
        with self._lock:
            if piece.startswith("Sending: "):
                self._current = piece[len("Sending: "):].strip()
                self._sectors = 0
            elif piece.startswith("Bytes Sent:") and self._current:
                self._acknowledged.append(self._current)
            else:
                match = self.SECTORS.search(piece)
                if match:
                    self._sectors = int(match.group(1))
