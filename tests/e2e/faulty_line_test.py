#!/usr/bin/env python3
"""Deliveries through a faulty serial line to the real service, which is
killed and started again meanwhile; over the whole run, every delivery must
be exported exactly once if its end was acknowledged, and never twice.

The real `vorlund` runs in a temporary application directory on one side of
tools/faulty-line; lrzsz's `sz` sends from the other, as a terminal does,
alternately `--ymodem` and `--ymodem -k`, repeating an unanswered block or
end every --sz-timeout tenths of a second. The faults, each drawn from the
seed:

- the line flips, drops, inserts and stalls bytes, and drops the service's
  side altogether (at random, just after an end of transmission, with the
  answer to it): --faults, see tools/faulty-line;
- the line is dropped in the middle of a transfer, at a chosen block (--drop);
- the sender is pulled out (killed) midway (--pull), or once X.DAT has
  changed, before it has heard the last acknowledgement (--pull-at-end);
- the service is killed with SIGKILL (--kill) at a random moment, at a
  chosen block of a transfer, right after X.DAT changed, or while it
  converts, and started again at once on the same directory, as systemd's
  Restart= would; a share of these restarts (--term) close it with SIGTERM;
- batches (--batches): `sz a b c` where c fails (the sender killed, or the
  line dropped, in the middle of c), then the same batch again, whole;
- a terminal pulled out at its end (--later): killed once X.DAT has
  changed, before it hears the answer, and docked again "later": the
  service's wall clock stepped minutes to hours forward or back (through
  libfaketime), the service perhaps restarted on the wrong clock, before
  the same file is sent again;
- the same count delivered twice (--twins): one file from a terminal
  without a clock (modification time 0) sent until its batch has ended,
  then sent again: a delivery of its own, exported again.

After a failure the terminal sends the same files again, up to a few times.
The checks, all in check() at the end of the run, per delivery:

- when sz reported its end acknowledged, exactly one export of it exists,
  equal to what vorlund-convert makes of it (it may appear only once the
  restarted service has converted what it had recorded), and when sz ended
  with success, X.DAT held the last file byte for byte;
- when sz never did, at most one export;
- no export differs from a whole delivery's, and the service never ends
  by itself;
- a delivery kept in Spool/Okonverterade instead of exported counts as kept,
  neither lost nor doubled, only if a journal line names the kept file; a
  delivery both exported and kept would be exported again by whoever
  follows the kept file's instructions, and fails;
- the run made at least the faults --at-least names, so that a run whose
  faults missed their moment does not pass for a proof.

It prints what it made and found; `totals:` gives the same as name=value
for bench/faulty_line_soak.sh to add up.

    faulty_line_test.py VORLUND CONVERT FAULTY_LINE [--deliveries N]
        [--batches N] [--seed S] [--faults "flip=... hangup=..."]
        [--largest BYTES] [--pull CHANCE] [--pull-at-end CHANCE]
        [--kill CHANCE] [--term SHARE] [--drop CHANCE] [--sz-timeout TENTHS]
        [--at-least "kills=N end_drops=N failed_batches=N ..."]
"""

import argparse
import collections
import os
import random
import shutil
import signal
import sys
import tempfile
import time

from faulty_line_processes import Clock, Line, Service
from faulty_line_run import Run, listing


def owner(content_of, deliveries, window, taken):
    """The delivery a file of the run belongs to: the one whose content it
    holds. Of several alike (empty deliveries), one sent before the file
    appeared (a restarted service may export late), the latest that has no
    such file yet in `taken`."""
    alike = [d for d in deliveries if content_of(d) and (window is None or d.window <= window)]
    alike.sort(key=lambda d: (not taken[d.number], d.window))
    return alike[-1] if alike else None


def check(run, journal):
    """Every property of the run, per delivery; returns the counts, the
    failures, each with what its delivery's attempts met, and how often each
    kind of failure met each fault."""
    counts = collections.Counter()
    causes = collections.Counter()
    failures = []
    exports = collections.defaultdict(list)
    kept = collections.defaultdict(list)
    for name in sorted(listing(run.out_dir)):
        with open(os.path.join(run.out_dir, name), "rb") as f:
            content = f.read()
        delivery = owner(lambda d: d.expected == content, run.deliveries,
                         run.window_of.get("Out/" + name), exports)
        if delivery is None:
            counts["wrong"] += 1
            failures.append("export %s is no whole delivery's" % name)
        else:
            exports[delivery.number].append(name)
    for name in sorted(listing(run.kept_dir)):
        with open(os.path.join(run.kept_dir, name), "rb") as f:
            content = f.read()
        delivery = owner(lambda d: d.content == content, run.deliveries,
                         run.window_of.get("kept/" + name), kept)
        said = any(name in line for line in journal)
        if delivery is None or not said:
            # Kept without a word: nobody would know to convert it.
            counts["kept_silently"] += 1
            failures.append("kept file %s: %s" % (
                name, "no delivery's" if delivery is None else "no journal line names it"))
        else:
            kept[delivery.number].append(name)
    drops = run.line.drops()
    for d in run.deliveries:
        made = len(exports[d.number])
        problem = None
        if d.acknowledged:
            counts["reported"] += 1
            counts["stored"] += d.stored is True
            if d.stored is False:
                counts["not_stored"] += 1
                problem = "not stored", "X.DAT did not hold it right after sz's success"
            if made == 1:
                counts["exported_once"] += 1
            elif made == 0 and kept[d.number]:
                counts["kept"] += 1
            elif made == 0:
                counts["lost"] += 1
                problem = "lost", "acknowledged, never exported"
        else:
            counts["not_delivered"] += 1
            counts["stored_unreported"] += made == 1
            counts["kept"] += made == 0 and bool(kept[d.number])
        if made > 1:
            counts["doubled"] += 1
            problem = "doubled", "%d exports: %s" % (made, " ".join(exports[d.number]))
        elif made == 1 and kept[d.number]:
            counts["kept_and_exported"] += 1
            problem = "kept and exported", "kept as well: %s" % " ".join(kept[d.number])
        if problem:
            kind, detail = problem
            met = []
            for began, ended, status, acknowledged, struck in d.history:
                # A drop on request is the harness's own, named in `struck`.
                hit = collections.Counter(struck + [
                    "line dropped " + cause for at, cause in drops
                    if began <= at <= ended and cause != "on request"])
                met.append("[sz %s%s: %s]" % (
                    status, ", acknowledged" if acknowledged else "",
                    ", ".join(fault + (" (%d times)" % n if n > 1 else "")
                              for fault, n in hit.items()) or "line noise only"))
                causes.update((kind, fault) for fault in hit)
            failures.append("delivery %d (%d bytes): %s; %s" %
                            (d.number, len(d.content), detail, " ".join(met)))
    for status in run.service.died:
        failures.append("the service ended by itself: %s" % status)
    counts["repeats"] = sum(line.startswith("<6>Upprepad leverans") for line in journal)
    counts["sent"] = len(run.deliveries)
    return counts, failures, causes


def main():
    # A harness that is stopped still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parser = argparse.ArgumentParser()
    parser.add_argument("vorlund")
    parser.add_argument("convert")
    parser.add_argument("faulty_line")
    parser.add_argument("--deliveries", type=int, default=12,
                        help="single deliveries, besides the batches' files")
    parser.add_argument("--batches", type=int, default=1,
                        help="batches of three whose first sending fails at the third file")
    parser.add_argument("--later", type=int, default=1,
                        help="deliveries pulled out at their end and sent again after a clock step")
    parser.add_argument("--twins", type=int, default=1,
                        help="counts delivered twice, the second after the first's batch ended")
    parser.add_argument("--seed", type=int, default=8)
    parser.add_argument("--faults", default="flip=0.0001 drop=0.0001 garbage=0.00005 "
                        "stall=0.00002 stall-ms=4000 back=5 hangup=0.00001 hangup-eot=0.2 "
                        "hangup-ack=0.1")
    parser.add_argument("--largest", type=int, default=30000)
    parser.add_argument("--pull", type=float, default=0.15,
                        help="chance that an attempt's sender is killed midway")
    parser.add_argument("--pull-at-end", type=float, default=0.1,
                        help="chance that it is killed once X.DAT has changed")
    parser.add_argument("--kill", type=float, default=0.2,
                        help="chance that the service is killed and restarted in an attempt")
    parser.add_argument("--term", type=float, default=0.2,
                        help="share of those restarts that close it with SIGTERM instead")
    parser.add_argument("--drop", type=float, default=0.1,
                        help="chance that the line is dropped at a chosen block of an attempt")
    parser.add_argument("--sz-timeout", type=int, default=100,
                        help="tenths of a second sz waits for an answer: the protocol's 10 s")
    parser.add_argument("--at-least", default="",
                        help='faults the run must have made, as "kills=2 end_drops=2": '
                        "a run that met too few of them proves nothing about them")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="vorlund-faulty.")
    app = os.path.join(work, "app")
    os.makedirs(app)
    shutil.copy(args.vorlund, os.path.join(app, "vorlund"))
    os.makedirs(os.path.join(work, "reference"))
    shutil.copy(args.convert, os.path.join(work, "reference", "vorlund-convert"))
    with open(os.path.join(app, "Vorlund.ini"), "w") as f:
        f.write("SerialDevice=%s\n" % os.path.join(work, "line"))

    start = time.monotonic()
    line = Line(args.faulty_line, os.path.join(work, "line"), os.path.join(work, "terminal"),
                args.seed, args.faults, os.path.join(work, "line.log"))
    service = None
    run = None
    try:
        service = Service(os.path.join(app, "vorlund"), work, os.path.join(work, "service.log"),
                          Clock(os.path.join(work, "clock")))
        time.sleep(0.5)
        run = Run(args, work, line, service)
        # The other kinds of group spread evenly among the single deliveries.
        groups = ["single"] * args.deliveries
        others = ["batch"] * args.batches + ["later"] * args.later + ["twins"] * args.twins
        rng = random.Random(args.seed)
        rng.shuffle(others)
        for n in reversed(range(len(others))):
            groups.insert((n + 1) * args.deliveries // (len(others) + 1), others[n])
        for index, kind in enumerate(groups):
            run.send_group(index, kind)
        run.settle(True)
        run.note_window(len(groups) - 1)
    finally:
        if service:
            service.stop()
        line.stop()
    sys.stdout.write("".join(line.summary()))
    with open(os.path.join(work, "service.log"), encoding="utf-8", errors="replace") as f:
        journal = f.read().splitlines()
    counts, failures, causes = check(run, journal)
    drops = collections.Counter(cause for _, cause in line.drops())
    counts.update(kills=service.kills, terms=service.terms, pulls=run.pulls,
                  drops=sum(drops.values()), failed_batches=run.failed_batches,
                  later=run.later, twins=run.twins, clock_steps=service.clock.steps,
                  end_drops=(drops["after an end of transmission"] +
                             drops["with the answer to an end"]))
    for wanted in args.at_least.split():
        name, least = wanted.split("=")
        if counts[name] < int(least):
            failures.append("the run made %d %s, fewer than the %s it must cover" %
                            (counts[name], name, least))
    print("%(sent)d sent, %(reported)d reported delivered, %(stored)d stored exactly, "
          "%(exported_once)d exported once, %(lost)d lost, %(doubled)d doubled, "
          "%(wrong)d wrong exports, %(kept)d kept; %(not_delivered)d never reported delivered "
          "(%(stored_unreported)d of them exported once); %(repeats)d repeats recognised; "
          "%(kills)d kill -9 and %(terms)d SIGTERM restarts, %(drops)d line drops, "
          "%(pulls)d senders pulled; %(later)d sent again after a clock step, "
          "%(twins)d counts delivered twice" % counts)
    print("  drops: " + (", ".join("%d %s" % (n, cause) for cause, n in sorted(drops.items()))
                         or "none"))
    keys = ["sent", "reported", "stored", "exported_once", "lost", "doubled", "wrong", "kept",
            "not_stored", "kept_silently", "kept_and_exported", "not_delivered",
            "stored_unreported", "repeats", "kills", "terms", "drops", "end_drops", "pulls",
            "failed_batches", "later", "twins", "clock_steps"]
    print("totals: " + " ".join("%s=%d" % (key, counts[key]) for key in keys))
    if causes:
        print("failures by what their attempts met:")
        for (kind, fault), n in sorted(causes.items()):
            print("  %s: %s (%d)" % (kind, fault, n))
    print("%.0f s" % (time.monotonic() - start))
    for failure in failures:
        print("FAIL: " + failure)
    ok = not failures and counts["reported"] * 2 >= counts["sent"]
    if not ok:
        sys.stdout.write("--- service:\n" + "\n".join(journal) + "\n")
        print("kept: " + work)
    else:
        shutil.rmtree(work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
