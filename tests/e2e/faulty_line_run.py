"""How faulty_line_test.py sends its deliveries and strikes at them: the
deliveries' files and their expected exports, the groups (one delivery, a
batch of three, one pulled at its end and docked again later, or the same
count delivered twice) sent until sz has them acknowledged, and in each
attempt the faults drawn for it, struck at the moment they name."""

import collections
import math
import os
import random
import shutil
import subprocess
import time

from faulty_line_processes import Sender

ATTEMPTS = 4
SZ_TIMEOUT = 300
# What a restarted service needs to open the line again and convert what it
# had recorded, before the exports are taken as settled.
RECOVERY = 1.5
KILL_POINTS = ["at a random moment", "in the middle of a transfer", "right after X.DAT changed",
               "while converting"]
# How a terminal pulled out at its end is docked again "later": the wall
# clock stepped by so many seconds, the service restarted on it or not.
LATER = [(11 * 60, False), (2 * 3600, False), (-15 * 60, True), (3 * 3600, True)]


class Delivery:
    def __init__(self, number, name, content, expected):
        self.number = number
        self.name = name
        self.content = content
        self.expected = expected
        self.acknowledged = False
        self.stored = None  # X.DAT held it after sz's success; None: not looked at
        self.window = None  # the group during which it was sent
        self.history = []  # what each attempt met, for the report


def expected_export(work, content):
    """What the service must export for `content`: vorlund-convert's output."""
    app = os.path.join(work, "reference")
    shutil.rmtree(os.path.join(app, "Spool"), ignore_errors=True)
    shutil.rmtree(os.path.join(app, "Out"), ignore_errors=True)
    os.makedirs(os.path.join(app, "Spool"))
    with open(os.path.join(app, "Spool", "X.DAT"), "wb") as f:
        f.write(content)
    result = subprocess.run([os.path.join(app, "vorlund-convert"), app],
                            capture_output=True, check=True)
    with open(result.stdout.decode().strip(), "rb") as f:
        return f.read()


def make_content(rng, number, smallest, largest):
    """A delivery of a size up to `largest`, at least `smallest`, unique in
    content."""
    size = rng.choice([0] + [rng.randint(1, 200), rng.randint(200, 4000),
                             rng.randint(4000, largest)] * 3)
    lines = []
    total = 0
    while total < max(size, smallest):
        line = b"D%04dA%05d;%d\r\n" % (number, len(lines), rng.randint(1, 999))
        lines.append(line)
        total += len(line)
    return b"".join(lines)


def modified(path):
    """What changes whenever the file is written anew (the service renames a
    new file into place)."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return None
    return status.st_ino, status.st_mtime_ns


def listing(folder, hidden=False):
    if not os.path.isdir(folder):
        return set()
    return {name for name in os.listdir(folder) if hidden or not name.startswith(".")}


def protocol_options(turn, kind):
    """The sz options of the `turn`th group of its kind: YMODEM with 128-
    and 1,024-byte blocks, ZMODEM with crash recovery (a transfer cut off
    goes on where it stopped) and, for single deliveries, XMODEM. XMODEM
    has no header and no batch: a terminal docked again later, or counting
    the same lines twice, is YMODEM's or ZMODEM's to prove."""
    choices = {
        "single": [["--ymodem"], ["--xmodem", "-k"], ["-r"], ["--ymodem", "-k"]],
        "batch": [["--ymodem", "-k"], ["-r"]],
        "later": [["--ymodem"], ["-r"]],
        "twins": [["-r"], ["--ymodem"]],
    }[kind]
    return choices[turn % len(choices)]


def block_at(rng, index, content, kilo, last=True):
    """A point in file `index` to strike at: (index, a count of 128-byte
    blocks). sz shows the count before each block it sends, its first one
    numbered 1, eight at a time with 1 KB blocks (-k); with `last` the
    point may be as late as the last block, else it comes in the first half,
    far enough from the end for the harness to strike before the end does."""
    blocks = math.ceil(len(content) / 128)
    top = blocks - (7 if kilo else 0)
    return index, rng.randint(0, max(0, top if last else top // 2))


class Run:
    def __init__(self, args, work, line, service):
        self.args = args
        self.work = work
        self.line = line
        self.service = service
        self.app = os.path.join(work, "app")
        self.out_dir = os.path.join(self.app, "Out")
        self.kept_dir = os.path.join(self.app, "Spool", "Okonverterade")
        self.xdat = os.path.join(self.app, "Spool", "X.DAT")
        self.deliveries = []
        self.turns = collections.Counter()  # groups of each kind sent so far
        self.window_of = {}  # export or kept file -> the group it appeared in
        self.pulls = 0
        self.failed_batches = 0  # batches whose first sending failed as planned
        self.later = 0  # deliveries pulled at their end and sent again after a clock step
        self.twins = 0  # counts delivered a second time after the first's batch ended
        self.twins_pending = False
        self.last_status = None

    def state(self):
        return (frozenset(listing(self.out_dir)), frozenset(listing(self.kept_dir)),
                modified(self.xdat))

    def settle(self, restarted):
        """Waits until the exports and X.DAT have stopped changing, and after
        a restart until the service has had time to finish what it had."""
        while restarted and self.service.up_for() < RECOVERY:
            time.sleep(0.05)
        last = None
        stable_since = time.monotonic()
        limit = time.monotonic() + (10 if restarted else 5)
        while time.monotonic() < limit:
            state = self.state()
            if state != last:
                last = state
                stable_since = time.monotonic()
            elif time.monotonic() - stable_since >= 0.3:
                return
            time.sleep(0.05)

    def note_window(self, group):
        for folder, prefix in ((self.out_dir, "Out/"), (self.kept_dir, "kept/")):
            for name in listing(folder):
                self.window_of.setdefault(prefix + name, group)

    def new_delivery(self, rng, group, smallest, index, twin=None):
        number = len(self.deliveries)
        if twin:
            content, name = twin.content, twin.name
        else:
            content = make_content(rng, number, smallest, self.args.largest)
            name = "D%04d.DAT" % number
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(content)
        # Each delivery its own modification time, as a terminal's files
        # have; twins none, as from a terminal without a clock.
        stamp = 0 if twin or self.twins_pending else 1700000000 + number * 60
        os.utime(path, (stamp, stamp))
        delivery = Delivery(number, name, content,
                            twin.expected if twin else expected_export(self.work, content))
        delivery.window = index
        group.append(delivery)
        self.deliveries.append(delivery)
        return delivery

    def send_group(self, index, kind):
        """One delivery; a batch of three whose first sending fails at the
        third file; one whose sender is pulled out at its end and sends it
        again after the clock was stepped; or one delivered twice, from a
        terminal without a clock: each sent until sz has it acknowledged."""
        rng = random.Random("%d/%d" % (self.args.seed, index))
        batch = kind == "batch"
        group = []
        self.twins_pending = kind == "twins"
        protocol = protocol_options(self.turns[kind], kind)
        self.turns[kind] += 1
        for position in range(3 if batch else 1):
            # A batch's third file is long enough to be struck in the middle;
            # an XMODEM sender cannot send an empty file (its lone end is a
            # repeated end to a receiver).
            smallest = (8000 if position == 2 else 1) if batch else int("--xmodem" in protocol)
            self.new_delivery(rng, group, smallest, index)
        options = protocol + ["-t", str(self.args.sz_timeout)]
        began = time.monotonic()
        later = self.later
        attempts = self.send(rng, group, options, kind)
        for _ in range(2):
            if kind != "later" or self.later > later or not group[-1].acknowledged:
                break
            # The sender heard its end before it could be pulled out (a small
            # file's end is answered within a millisecond): it counted a new
            # delivery, which is pulled out in its turn.
            self.new_delivery(rng, group, smallest, index)
            attempts += self.send(rng, group[-1:], options, kind)
        if kind == "twins" and self.last_status == 0:
            # Its batch ended, so the sender heard it: the same count again
            # is a delivery of its own. (Names of exports are the second.)
            time.sleep(1.1)
            twin = self.new_delivery(rng, [], 0, index, twin=group[0])
            attempts += self.send(rng, [twin], options, "twins")
            group.append(twin)
            self.twins += self.last_status == 0
        self.note_window(index)
        print("%s %s: %s bytes, sz %s, %d attempt(s), %s, %.1f s" %
              (kind, "+".join(str(d.number) for d in group),
               "+".join(str(len(d.content)) for d in group), " ".join(options[:-2]), attempts,
               "+".join("acknowledged" if d.acknowledged else "not acknowledged"
                        for d in group),
               time.monotonic() - began), flush=True)

    def send(self, rng, group, options, kind):
        """Sends `group` until sz has it acknowledged; returns the attempts it
        took. (A twin is sent again only if its sender saw its batch end, which
        only sz's success tells: once its file is acknowledged, a terminal that
        sends it again after a failed end may be sending a new delivery or a
        resend, and neither side can tell which.)"""
        names = [d.name for d in group]
        batch = kind == "batch"
        twins = kind == "twins"
        attempts = 0
        while attempts < ATTEMPTS + batch + 4 * twins:
            attempts += 1
            if kind == "later" and attempts == 1:
                strikes = {"pull_at_end": True, "label": ", to be docked again later"}
            elif twins and attempts > 2:
                # A twin is sent only once its sender saw the first's batch
                # end; so that every run has one, the later attempts meet
                # only the line's own faults.
                strikes = {}
            else:
                strikes = self.choose_strikes(rng, group, batch and attempts == 1,
                                              "-k" in options)
            if kind == "later" and attempts == 2:
                self.dock_later(rng, group)
            status, acknowledged = self.attempt(group, options, strikes)
            self.last_status = status
            # As planned: the first two files in, the third not.
            self.failed_batches += batch and attempts == 1 and acknowledged == names[:2]
            if status == 0 or acknowledged == names and not twins:
                break
        return attempts

    def dock_later(self, rng, group):
        """The clock moves on, or is set back, or the box starts again with
        its clock wrong, before the terminal pulled out is docked again."""
        seconds, restart = rng.choice(LATER)
        self.service.clock.step(seconds)
        if restart:
            self.service.kill_and_restart()
            self.settle(True)
        self.later += 1
        group[0].history.append((time.monotonic(), time.monotonic(), "-",
                                 False, ["clock stepped %+d min%s" % (
                                     seconds // 60, ", restarted" if restart else "")]))
        print("  clock stepped %+d min%s" % (seconds // 60, ", service restarted on it"
                                             if restart else ""), flush=True)

    def choose_strikes(self, rng, group, failing_batch, kilo):
        size = sum(len(d.content) for d in group)
        strikes = {}
        chance = rng.random()
        if failing_batch:
            # Nothing else is struck, so that the batch fails in its third
            # file only, the first two delivered, as the test is about.
            where = block_at(rng, 2, group[2].content, kilo, last=False)
            strikes["pull_at" if rng.random() < 0.5 else "drop_at"] = where
            strikes["label"] = " in a batch's third file"
            return strikes
        if chance < self.args.pull:
            strikes["pull_after"] = rng.uniform(0, 0.3 + size / 20000)
        elif chance < self.args.pull + self.args.pull_at_end:
            strikes["pull_at_end"] = True
        if rng.random() < self.args.drop:
            index = rng.randrange(len(group))
            strikes["drop_at"] = block_at(rng, index, group[index].content, kilo)
        if rng.random() < self.args.kill:
            strikes["kill"] = rng.choice(KILL_POINTS)
            strikes["kill_after"] = rng.uniform(0, 0.3 + size / 20000)
            index = rng.randrange(len(group))
            strikes["kill_at"] = block_at(rng, index, group[index].content, kilo)
            strikes["term"] = rng.random() < self.args.term
        return strikes

    def attempt(self, group, options, strikes):
        """One run of sz; its exit status and the files whose ends it had
        acknowledged."""
        names = [d.name for d in group]
        stored_before = modified(self.xdat)
        out_before = listing(self.out_dir, hidden=True)
        sender = Sender(os.path.join(self.work, "terminal"), options, names, self.work)
        began = time.monotonic()
        met = []
        restarted = False

        def reached(where):
            name, sectors = sender.progress()
            return name == names[where[0]] and sectors >= where[1]

        while sender.poll() is None and time.monotonic() < began + SZ_TIMEOUT:
            elapsed = time.monotonic() - began
            changed = modified(self.xdat) != stored_before
            if ("pull_after" in strikes and elapsed >= strikes["pull_after"] or
                    strikes.get("pull_at_end") and changed or
                    "pull_at" in strikes and reached(strikes["pull_at"])):
                met.append("sender pulled " + ("once X.DAT changed" if "pull_at_end" in strikes
                                               else "midway") + strikes.get("label", ""))
                self.pulls += 1
                break
            if "drop_at" in strikes and reached(strikes["drop_at"]):
                del strikes["drop_at"]
                self.line.drop()
                met.append("line dropped midway" + strikes.get("label", ""))
            point = strikes.get("kill")
            if point and (point == KILL_POINTS[0] and elapsed >= strikes["kill_after"] or
                          point == KILL_POINTS[1] and reached(strikes["kill_at"]) or
                          point == KILL_POINTS[2] and changed or
                          point == KILL_POINTS[3] and listing(self.out_dir, True) != out_before):
                if strikes["term"]:
                    self.service.close_and_restart()
                else:
                    self.service.kill_and_restart()
                met.append(("SIGTERM " if strikes["term"] else "kill -9 ") + point)
                del strikes["kill"]
                restarted = True
            time.sleep(0.001)
        sender.kill()
        status = sender.wait()
        self.settle(restarted)
        self.service.check_alive()
        acknowledged = sender.acknowledged()
        for delivery in group:
            delivery.acknowledged = delivery.acknowledged or delivery.name in acknowledged
            delivery.history.append((began, time.monotonic(), status,
                                     delivery.name in acknowledged, met))
        if status == 0:
            with open(self.xdat, "rb") as f:
                group[-1].stored = f.read() == group[-1].content
        # The start in the monotonic clock's milliseconds, as faulty_line's
        # drops and trace= give their times.
        print("  sz %s after %.1f s (from %d ms), %d of %d acknowledged%s" %
              (status, time.monotonic() - began, began * 1000, len(acknowledged), len(names),
               "".join("; " + fault for fault in met)), flush=True)
        return status, acknowledged
