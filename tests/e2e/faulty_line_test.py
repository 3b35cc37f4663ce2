#!/usr/bin/env python3
"""Deliveries through a faulty serial line, each checked for being stored and
exported exactly once.

The real `vorlund` runs in a temporary application directory on one side of
tools/faulty-line; lrzsz's `sz` sends from the other, as a terminal does:
alternately `--ymodem` and `--ymodem -k`, now and then pulled out in the
middle (killed), or at the very end, the moment X.DAT has changed, before it
has heard the last acknowledgement; after a failure it sends the same
delivery again, up to a few times. For every delivery:

- when sz reported success, X.DAT held it byte for byte right after, and
  exactly one export of it exists, equal to what vorlund-convert makes of it;
- when it never did, at most one export of it exists (the service may have
  stored it while its last acknowledgement was lost on the way back);
- no export ever differs from a whole delivery's.

    faulty_line_test.py VORLUND CONVERT FAULTY_LINE [--deliveries N]
        [--seed S] [--faults "flip=... drop=..."] [--largest BYTES]
        [--pull CHANCE] [--pull-at-end CHANCE]
"""

import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ATTEMPTS = 4
SZ_TIMEOUT = 300


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


def make_delivery(rng, number, largest):
    """A delivery of a size between nothing and `largest`, unique in content."""
    size = rng.choice([0] + [rng.randint(1, 200), rng.randint(200, 4000),
                             rng.randint(4000, largest)] * 3)
    lines = []
    total = 0
    while total < size:
        line = b"D%04dA%05d;%d\r\n" % (number, len(lines), rng.randint(1, 999))
        lines.append(line)
        total += len(line)
    return b"".join(lines)


def modified(path):
    return os.stat(path).st_mtime_ns if os.path.exists(path) else None


def snapshot(out_dir):
    return {name for name in os.listdir(out_dir) if not name.startswith(".")}


def settle(app, before):
    """Waits until the exports and X.DAT have stopped changing."""
    xdat = os.path.join(app, "Spool", "X.DAT")
    last = None
    stable_since = time.monotonic()
    limit = time.monotonic() + 5
    while time.monotonic() < limit:
        state = (frozenset(snapshot(os.path.join(app, "Out")) - before),
                 os.stat(xdat).st_mtime_ns if os.path.exists(xdat) else None)
        if state != last:
            last = state
            stable_since = time.monotonic()
        elif time.monotonic() - stable_since >= 0.3:
            return
        time.sleep(0.05)


def main():
    # A harness that is stopped still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parser = argparse.ArgumentParser()
    parser.add_argument("vorlund")
    parser.add_argument("convert")
    parser.add_argument("faulty_line")
    parser.add_argument("--deliveries", type=int, default=12)
    parser.add_argument("--seed", type=int, default=8)
    parser.add_argument("--faults", default="flip=0.0001 drop=0.0001 garbage=0.00005 "
                        "stall=0.00002 stall-ms=4000 back=5")
    parser.add_argument("--largest", type=int, default=30000)
    parser.add_argument("--pull", type=float, default=0.15,
                        help="chance that an attempt's sender is killed midway")
    parser.add_argument("--pull-at-end", type=float, default=0.1,
                        help="chance that it is killed once X.DAT has changed")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="vorlund-faulty.")
    app = os.path.join(work, "app")
    os.makedirs(app)
    shutil.copy(args.vorlund, os.path.join(app, "vorlund"))
    os.makedirs(os.path.join(work, "reference"))
    shutil.copy(args.convert, os.path.join(work, "reference", "vorlund-convert"))
    line = os.path.join(work, "line")
    terminal = os.path.join(work, "terminal")
    with open(os.path.join(app, "Vorlund.ini"), "w") as f:
        f.write("SerialDevice=%s\n" % line)

    pump_log = open(os.path.join(work, "pump.log"), "w")
    pump = subprocess.Popen([args.faulty_line, line, terminal, str(args.seed)] +
                            args.faults.split(), stderr=pump_log)
    service = None
    counts = dict(sent=0, reported=0, stored=0, exported_once=0, lost=0, doubled=0,
                  wrong=0, not_delivered=0, stored_unreported=0)
    failures = []
    start = time.monotonic()
    try:
        while not (os.path.exists(line) and os.path.exists(terminal)):
            time.sleep(0.02)
        service_log = open(os.path.join(work, "service.log"), "w")
        service = subprocess.Popen([os.path.join(app, "vorlund")], stderr=service_log, cwd=work)
        time.sleep(0.5)
        out_dir = os.path.join(app, "Out")
        for number in range(args.deliveries):
            content = make_delivery(rng, number, args.largest)
            path = os.path.join(work, "D%04d.DAT" % number)
            with open(path, "wb") as f:
                f.write(content)
            # Each delivery its own modification time, as a terminal's files have.
            os.utime(path, (1700000000 + number * 60, 1700000000 + number * 60))
            expected = expected_export(work, content)
            options = ["--ymodem"] + (["-k"] if number % 2 else [])
            counts["sent"] += 1
            before = snapshot(out_dir)
            began = time.monotonic()
            reported = False
            stored_exactly = False
            attempts = 0
            while attempts < ATTEMPTS and not reported:
                attempts += 1
                # A sender pulled out, at any moment up to about its whole time,
                # or as soon as the delivery is stored, when the last
                # acknowledgement is still on its way to it.
                chance = rng.random()
                pull = (rng.uniform(0, 0.3 + len(content) / 20000)
                        if chance < args.pull else None)
                pull_at_end = args.pull <= chance < args.pull + args.pull_at_end
                xdat = os.path.join(app, "Spool", "X.DAT")
                stored_before = modified(xdat)
                with open(terminal, "r+b", buffering=0) as tty:
                    sender = subprocess.Popen(["sz"] + options + [path], stdin=tty, stdout=tty,
                                              stderr=subprocess.DEVNULL)
                    limit = time.monotonic() + (pull if pull is not None else SZ_TIMEOUT)
                    while sender.poll() is None and time.monotonic() < limit:
                        if pull_at_end and modified(xdat) != stored_before:
                            break
                        time.sleep(0.001)
                    if sender.poll() is None:
                        sender.kill()
                    status = sender.wait()
                settle(app, before)
                reported = status == 0
                if reported:
                    with open(os.path.join(app, "Spool", "X.DAT"), "rb") as f:
                        stored_exactly = f.read() == content
            new = sorted(snapshot(out_dir) - before)
            mine = 0
            for name in new:
                with open(os.path.join(out_dir, name), "rb") as f:
                    if f.read() == expected:
                        mine += 1
                    else:
                        counts["wrong"] += 1
                        failures.append("delivery %d: export %s is not the delivery's" %
                                        (number, name))
            if reported:
                counts["reported"] += 1
                counts["stored"] += stored_exactly
                counts["exported_once"] += mine == 1
                if not stored_exactly or mine == 0:
                    counts["lost"] += 1
                    failures.append("delivery %d (%d bytes, sz %s): reported delivered, stored "
                                    "exactly: %s, exports: %d" %
                                    (number, len(content), " ".join(options), stored_exactly, mine))
            else:
                counts["not_delivered"] += 1
                counts["stored_unreported"] += mine == 1
            if mine > 1:
                counts["doubled"] += 1
                failures.append("delivery %d: %d exports" % (number, mine))
            print("delivery %d: %d bytes, sz %s, %d attempt(s), %s, %d export(s), %.1f s" %
                  (number, len(content), " ".join(options), attempts,
                   "delivered" if reported else "not delivered", mine,
                   time.monotonic() - began), flush=True)
    finally:
        if service:
            service.send_signal(signal.SIGTERM)
            try:
                service.wait(timeout=10)
            except subprocess.TimeoutExpired:
                service.kill()
                service.wait()
        pump.send_signal(signal.SIGTERM)
        pump.wait(timeout=10)
        pump_log.close()
    with open(os.path.join(work, "pump.log")) as f:
        sys.stdout.write(f.read())
    with open(os.path.join(work, "service.log"), encoding="utf-8", errors="replace") as f:
        counts["repeats"] = sum(line.startswith("<6>Upprepad leverans") for line in f)
    print("%(sent)d sent, %(reported)d reported delivered, %(stored)d stored exactly, "
          "%(exported_once)d exported once, %(lost)d lost, %(doubled)d doubled, "
          "%(wrong)d wrong exports; %(not_delivered)d never reported delivered "
          "(%(stored_unreported)d of them stored and exported once); "
          "%(repeats)d repeats stored but not converted again" % counts)
    print("%.0f s" % (time.monotonic() - start))
    for failure in failures:
        print("FAIL: " + failure)
    ok = not failures and counts["reported"] * 2 >= counts["sent"]
    if not ok:
        with open(os.path.join(work, "service.log")) as f:
            sys.stdout.write("--- service:\n" + f.read())
        print("kept: " + work)
    else:
        shutil.rmtree(work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
