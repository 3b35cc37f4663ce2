#!/usr/bin/env python3
"""Packs the release zip: programs as they are, text files turned into what
Windows users read, code page 1252 with CR LF line ends.

    make_dist.py OUT.zip FOLDER --binary NAME=PATH... --text NAME=PATH...
"""

import argparse
import zipfile


def binary(path):
    with open(path, "rb") as source:
        return source.read()


def windows_text(path):
    with open(path, encoding="utf-8") as source:
        return source.read().replace("\n", "\r\n").encode("cp1252")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zip")
    parser.add_argument("folder")
    parser.add_argument("--binary", action="append", default=[])
    parser.add_argument("--text", action="append", default=[])
    args = parser.parse_args()
    # A fixed time stamp keeps the zip the same for the same inputs.
    stamp = (2024, 1, 1, 0, 0, 0)
    with zipfile.ZipFile(args.zip, "w", zipfile.ZIP_DEFLATED) as archive:
        files = [(argument, binary) for argument in args.binary]
        files += [(argument, windows_text) for argument in args.text]
        for argument, read in files:
            name, path = argument.split("=", 1)
            entry = zipfile.ZipInfo(args.folder + "/" + name, stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, read(path))


if __name__ == "__main__":
    main()
