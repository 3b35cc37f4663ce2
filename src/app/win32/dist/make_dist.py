#!/usr/bin/env python3
"""Prepares what ships on Windows.

    make_dist.py text SOURCE DEST
        a text file as Windows users read it: code page 1252, CR LF line ends
    make_dist.py zip OUT.zip FOLDER FILE...
        the release zip: each FILE under FOLDER/, as it is
"""

import os
import sys
import zipfile


def windows_text(source, dest):
    with open(source, encoding="utf-8") as text:
        content = text.read().replace("\n", "\r\n").encode("cp1252")
    with open(dest, "wb") as out:
        out.write(content)


def pack(zip_path, folder, files):
    # A fixed time stamp keeps the zip the same for the same inputs.
    stamp = (2024, 1, 1, 0, 0, 0)
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for path in files:
            entry = zipfile.ZipInfo(folder + "/" + os.path.basename(path), stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read())


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "text":
        windows_text(sys.argv[2], sys.argv[3])
    elif len(sys.argv) >= 5 and sys.argv[1] == "zip":
        pack(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
