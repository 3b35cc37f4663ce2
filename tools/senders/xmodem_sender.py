#!/usr/bin/python3
"""Debian's python3-xmodem (an XMODEM sender independent of lrzsz) sending
one file over TTY, as a terminal's loader would:

    xmodem_sender.py TTY FILE [--1k] [--checksum-only] [--patience SECONDS]

It answers whichever invitation comes first ('C' for a CRC, NAK for the
checksum); --checksum-only makes a sender that knows only the checksum and
takes no 'C'. --patience is how long it waits for the first invitation.
Exits 0 when the receiver acknowledged the file's end.
"""

import argparse
import os
import select
import sys
import time

import xmodem


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tty")
    parser.add_argument("file")
    parser.add_argument("--1k", dest="kilo", action="store_true")
    parser.add_argument("--checksum-only", action="store_true")
    parser.add_argument("--patience", type=float, default=30)
    args = parser.parse_args()
    fd = os.open(args.tty, os.O_RDWR | os.O_NOCTTY)
    started = time.monotonic()

    def getc(size, timeout=1):
        deadline = time.monotonic() + timeout
        data = b""
        while len(data) < size:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return None
            byte = os.read(fd, 1)
            # Deaf to 'C' before its first block, as a sender that knows
            # only the checksum is; patient for its first invitation.
            if args.checksum_only and byte == b"C":
                continue
            data += byte
        return data

    def putc(data, timeout=1):
        os.write(fd, data)
        return len(data)

    modem = xmodem.XMODEM(getc, putc, mode="xmodem1k" if args.kilo else "xmodem")
    retries = max(16, int(args.patience))
    with open(args.file, "rb") as stream:
        ok = modem.send(stream, retry=retries, timeout=10, quiet=True)
    print("sent" if ok else "failed", "after %.1f s" % (time.monotonic() - started))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
