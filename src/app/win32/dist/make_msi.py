#!/usr/bin/env python3
"""Builds the per-user installer from vorlund.wxs with wixl (msitools).

    make_msi.py OUT.msi VERSION WXS FILE...

Each FILE is taken into the package under its own name. The ProductCode is
derived from the UpgradeCode and the version, so one version always gets the
same code and every other version a different one, as a major upgrade needs.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid

# msidbComponentAttributesPermanent | msidbComponentAttributesNeverOverwrite:
# an uninstall leaves the file, an install or upgrade keeps an existing one.
SETTINGS_ATTRIBUTES = 0x10 | 0x80


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    out, version, wxs = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
    with open(wxs, encoding="utf-8") as source:
        upgrade_code = re.search(r'UpgradeCode="([0-9A-F-]{36})"', source.read()).group(1)
    product_code = str(uuid.uuid5(uuid.UUID(upgrade_code), "Vorlund " + version)).upper()
    with tempfile.TemporaryDirectory() as staging:
        for path in sys.argv[4:]:
            shutil.copy(path, staging)
        # wixl takes the sources relative to its working directory.
        subprocess.run(["wixl", "-a", "x86", "-D", "Version=" + version,
                        "-D", "ProductCode=" + product_code, "-o", out, wxs],
                       cwd=staging, check=True)
    subprocess.run(["msibuild", out, "-q",
                    "UPDATE `Component` SET `Attributes` = %d WHERE `Component` = 'Settings'"
                    % SETTINGS_ATTRIBUTES], check=True)


if __name__ == "__main__":
    main()
