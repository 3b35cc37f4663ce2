#!/usr/bin/env python3
"""A ZMODEM sender written from the protocol's public description, byte by
byte, to prove the service against senders that are not lrzsz: one that
waits to be asked (sends no ZRQINIT and awaits the receiver's ZRINIT), one
that takes no header it does not expect (as the libraries of web terminals
do: a ZNAK ends it), one that gives no file CRC, one pulled out of its
cradle right after its end of file.

    zmodem_sender.py TTY FILE... [--wait] [--strict] [--resume] [--no-crc]
        [--mtime SECONDS] [--stop-after-eof] [--timeout SECONDS]

It reads and writes TTY, reads each answer with a timeout of its own (a
byte that is no header, such as an invitation meant for another protocol,
is passed over without starting the wait afresh), and repeats what it sent
last after each timeout, a few times. It prints one line per file whose
end the receiver answered ("sent NAME"), and exits with 0 once the session
ended, 1 when it gave up, 2 on a header it does not take (--strict).
"""

import argparse
import os
import select
import sys
import time
import zlib

ZPAD, ZDLE = b"*", 0x18
ZRQINIT, ZRINIT, ZACK, ZFILE, ZSKIP, ZNAK, ZABORT, ZFIN, ZRPOS, ZDATA, ZEOF, ZCRC = (
    0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13)
ZCRCE, ZCRCG, ZCRCW = 0x68, 0x69, 0x6B
ZCRESUM = 3
NAMES = {0: "ZRQINIT", 1: "ZRINIT", 3: "ZACK", 4: "ZFILE", 5: "ZSKIP", 6: "ZNAK",
         7: "ZABORT", 8: "ZFIN", 9: "ZRPOS", 10: "ZDATA", 11: "ZEOF", 13: "ZCRC"}
ESCAPED = {0x18, 0x10, 0x90, 0x11, 0x91, 0x13, 0x93}
SUBPACKET = 1024


class GaveUp(Exception):
    pass


class Refused(Exception):
    pass


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def escape(data):
    out = bytearray()
    for byte in data:
        if byte in ESCAPED:
            out += bytes([ZDLE, byte ^ 0x40])
        else:
            out.append(byte)
    return bytes(out)


def position_bytes(value):
    return value.to_bytes(4, "little")


def binary_header(kind, four):
    body = bytes([kind]) + four
    return b"*" + bytes([ZDLE]) + b"C" + escape(body + zlib.crc32(body).to_bytes(4, "little"))


def hex_header(kind, four):
    body = bytes([kind]) + four
    text = (body + crc16(body).to_bytes(2, "big")).hex().encode()
    return b"**" + bytes([ZDLE]) + b"B" + text + b"\r\x8a" + (b"" if kind in (ZACK, ZFIN) else b"\x11")


def subpacket(data, end):
    return escape(data) + bytes([ZDLE, end]) + escape(
        zlib.crc32(data + bytes([end])).to_bytes(4, "little"))


class Line:
    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        self.pending = b""

    def write(self, data):
        while data:
            written = os.write(self.fd, data)
            data = data[written:]

    def header(self, timeout):
        """The next hex header from the receiver, as (type, four bytes);
        None when none came in `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            start = self.pending.find(b"*" + bytes([ZDLE]) + b"B")
            if start >= 0 and len(self.pending) >= start + 17:
                text = self.pending[start + 3:start + 17]
                self.pending = self.pending[start + 17:]
                try:
                    raw = bytes.fromhex(text.decode())
                except ValueError:
                    continue
                if crc16(raw[:5]) == int.from_bytes(raw[5:], "big"):
                    return raw[0], raw[1:5]
                continue
            if start < 0:
                self.pending = self.pending[-2:]
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                chunk = os.read(self.fd, 4096)
                if not chunk:
                    raise GaveUp("the line closed")
                self.pending += chunk


class Sender:
    def __init__(self, line, args):
        self.line = line
        self.args = args

    def await_header(self, expected, said, retries=4):
        """Reads until one of `expected` comes; repeats `said` after each
        timeout. Whatever else comes is passed over, or refused when strict."""
        for _ in range(retries + 1):
            got = self.line.header(self.args.timeout)
            while got is not None:
                kind, four = got
                if kind in expected:
                    return kind, four
                if self.args.strict:
                    raise Refused("unsupported header: %s" % NAMES.get(kind, kind))
                if kind == ZNAK and said:
                    self.line.write(said)
                got = self.line.header(self.args.timeout)
            if said:
                self.line.write(said)
        raise GaveUp("no answer to %s" % said[:8])

    def run(self, paths):
        request = b"rz\r" + hex_header(ZRQINIT, bytes(4))
        if not self.args.wait:
            self.line.write(request)
        self.await_header({ZRINIT}, None if self.args.wait else request)
        for count, path in enumerate(paths):
            self.send_file(path, len(paths) - count)
        fin = hex_header(ZFIN, bytes(4))
        self.line.write(fin)
        try:
            self.await_header({ZFIN}, fin, retries=2)
        except GaveUp:
            return  # it gave no answer: the files are in all the same
        self.line.write(b"OO")

    def send_file(self, path, files_left):
        with open(path, "rb") as source:
            content = source.read()
        name = os.path.basename(path).encode()
        mtime = self.args.mtime if self.args.mtime is not None else int(os.stat(path).st_mtime)
        info = name + b"\0" + b"%d %o 100644 0 %d %d" % (len(content), mtime, files_left,
                                                         len(content)) + b"\0"
        option = ZCRESUM if self.args.resume else 0
        offer = binary_header(ZFILE, bytes([0, 0, 0, option])) + subpacket(info, ZCRCW)
        self.line.write(offer)
        while True:
            kind, four = self.await_header({ZRINIT, ZRPOS, ZSKIP, ZCRC}, offer)
            if kind == ZRINIT:
                self.line.write(offer)  # it did not hear the offer
            elif kind == ZSKIP:
                return
            elif kind == ZCRC:
                if not self.args.no_crc:
                    length = int.from_bytes(four, "little")
                    crc = zlib.crc32(content[:length])
                    self.line.write(hex_header(ZCRC, crc.to_bytes(4, "little")))
            else:
                break
        position = int.from_bytes(four, "little")
        while True:
            eof = binary_header(ZEOF, position_bytes(len(content)))
            self.line.write(binary_header(ZDATA, position_bytes(position)))
            at = position
            while True:
                chunk = content[at:at + SUBPACKET]
                last = at + len(chunk) >= len(content)
                self.line.write(subpacket(chunk, ZCRCE if last else ZCRCG))
                at += len(chunk)
                if last:
                    break
            self.line.write(eof)
            if self.args.stop_after_eof:
                # Lifted out once its end has gone, before it hears the answer.
                time.sleep(1)
                sys.exit(0)
            kind, four = self.await_header({ZRINIT, ZRPOS, ZSKIP}, eof)
            if kind == ZRPOS:
                position = int.from_bytes(four, "little")
                continue
            print("sent", name.decode(), flush=True)
            return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tty")
    parser.add_argument("files", nargs="+")
    parser.add_argument("--wait", action="store_true")
    parser.add_argument("--strict", action="store_true")
    parser.add_argument("--resume", action="store_true")
    parser.add_argument("--no-crc", action="store_true")
    parser.add_argument("--mtime", type=int)
    parser.add_argument("--stop-after-eof", action="store_true")
    parser.add_argument("--timeout", type=float, default=10)
    args = parser.parse_args()
    try:
        Sender(Line(args.tty), args).run(args.files)
    except Refused as refusal:
        print(refusal, file=sys.stderr)
        return 2
    except GaveUp as failure:
        print("gave up:", failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
