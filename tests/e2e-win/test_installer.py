"""The per-user installer under Wine's msiexec, in a throwaway prefix: a fresh
install, an upgrade by a newer package that keeps the operator's settings and
data, and an uninstall that takes the program and its autostart and leaves
the data. Run by ctest as:

    python3 test_installer.py VORLUND.MSI VERSION MAKE_MSI.PY WXS FILE...

where the last arguments build a newer package of the same files.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from wine_session import WINE_RUN, run_wine

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
ARGS = None


def shortcut_target(path):
    """The local path a shell link points at (its LinkInfo's base path)."""
    with open(path, "rb") as link:
        data = link.read()
    flags = int.from_bytes(data[0x14:0x18], "little")
    offset = 0x4C
    if flags & 0x1:  # a target ID list comes first
        offset += 2 + int.from_bytes(data[offset:offset + 2], "little")
    assert flags & 0x2, "the shortcut has no link information"
    base = offset + int.from_bytes(data[offset + 16:offset + 20], "little")
    return data[base:data.index(b"\0", base)].decode("cp1252")


class InstallerTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vorlund-msi-")
        self.env = dict(os.environ)
        # The installer service is a 64-bit program: the native Wine will do.
        self.env.pop("VORLUND_WINE_I686", None)
        self.env["WINEPREFIX"] = os.path.join(self.root, "prefix")
        os.makedirs(self.env["WINEPREFIX"])
        self.addCleanup(self.end_session)
        # One server for the whole test, so that each command starts quickly.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=30)
        # The system processes it leaves running would hold a captured output.
        subprocess.run([WINE_RUN, "wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        user = os.listdir(os.path.join(self.env["WINEPREFIX"], "drive_c", "users"))
        user = next(name for name in user if name != "Public")
        profile = os.path.join(self.env["WINEPREFIX"], "drive_c", "users", user, "AppData")
        self.app_dir = os.path.join(profile, "Local", "Programs", "Vorlund")
        self.start_menu = os.path.join(profile, "Roaming", "Microsoft", "Windows", "Start Menu",
                                       "Programs", "Vorlund.lnk")
        self.windows_app_dir = "C:\\users\\%s\\AppData\\Local\\Programs\\Vorlund" % user

    def end_session(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        shutil.rmtree(self.root, ignore_errors=True)

    def wine(self, *args, timeout=120):
        return run_wine(self.env, *args, timeout=timeout)

    def msiexec(self, *args):
        code, output = self.wine("msiexec", *args, "/qn")
        self.assertEqual(code, 0, "msiexec %s: %s" % (" ".join(args), output))

    def run_value(self):
        code, output = self.wine("reg", "query", RUN_KEY, "/v", "Vorlund")
        if code != 0:
            return None
        return output.split("REG_SZ", 1)[1].strip()

    def installed(self):
        """{product code: version} of every package named Vorlund that the
        system lists for removal, in either registry view."""
        products = {}
        for root in ("HKCU", "HKLM"):
            for view in ("/reg:32", "/reg:64"):
                code, output = self.wine("reg", "query", root + "\\" + UNINSTALL_KEY, "/s", view)
                keys = {}
                for line in output.splitlines() if code == 0 else []:
                    fields = line.split(None, 2)
                    if line.startswith("HKEY_"):
                        key = keys.setdefault(line.strip(), {})
                    elif len(fields) == 3 and fields[1].startswith("REG_"):
                        key[fields[0]] = fields[2]
                for name, values in keys.items():
                    if values.get("DisplayName") == "Vorlund":
                        products[name.rsplit("\\", 1)[1]] = values.get("DisplayVersion")
        return products

    def path(self, *parts):
        return os.path.join(self.app_dir, *parts)

    def newer_package(self):
        major, minor, patch = ARGS["version"].split(".")
        version = "%s.%s.%d" % (major, minor, int(patch) + 1)
        package = os.path.join(self.root, "vorlund-%s.msi" % version)
        subprocess.run([sys.executable, ARGS["make_msi"], package, version] + ARGS["sources"],
                       check=True, timeout=120)
        return package, version

    def test_install_upgrade_and_uninstall(self):
        self.msiexec("/i", "Z:" + ARGS["msi"].replace("/", "\\"))
        for name in ("Vorlund.exe", "vorlund-convert.exe", "Vorlund.ini", "LASMIG.txt"):
            with open(self.path(name), "rb") as installed, \
                    open(os.path.join(ARGS["release"], name), "rb") as shipped:
                self.assertEqual(installed.read(), shipped.read(), name)
        # What Windows reads from the programs: a manifest that keeps their
        # files from being virtualised, and the package's own version.
        for name in ("Vorlund.exe", "vorlund-convert.exe"):
            with open(self.path(name), "rb") as program:
                image = program.read()
            self.assertIn(b'level="asInvoker"', image, name)
            self.assertIn(b"<supportedOS", image, name)
            self.assertIn((ARGS["version"] + ".0").encode("utf-16-le"), image, name)
        exe = self.windows_app_dir + "\\Vorlund.exe"
        self.assertEqual(self.run_value(), '"%s"' % exe)
        self.assertEqual(shortcut_target(self.start_menu), exe)
        self.assertEqual(list(self.installed().values()), [ARGS["version"]])

        # The operator's settings and the program's folders, as in use.
        with open(self.path("Vorlund.ini"), "wb") as settings:
            settings.write(b"COM-Port=3\r\nOutDir=D:\\Export\r\n")
        os.makedirs(self.path("Spool"))
        os.makedirs(self.path("Out"))
        data = {("Spool", "X.DAT"): b"A;1\r\n", ("Out", "20240101120000.txt"): b"A,1\r\n"}
        for parts, content in data.items():
            with open(self.path(*parts), "wb") as out:
                out.write(content)

        package, version = self.newer_package()
        self.msiexec("/i", "Z:" + package.replace("/", "\\"))
        self.assertEqual(list(self.installed().values()), [version])
        with open(self.path("Vorlund.ini"), "rb") as settings:
            self.assertEqual(settings.read(), b"COM-Port=3\r\nOutDir=D:\\Export\r\n")
        for parts, content in data.items():
            with open(self.path(*parts), "rb") as kept:
                self.assertEqual(kept.read(), content)
        self.assertEqual(self.run_value(), '"%s"' % exe)
        self.assertTrue(os.path.isfile(self.path("Vorlund.exe")))
        self.assertTrue(os.path.isfile(self.start_menu))

        # As Apps & features does it: by product code.
        self.msiexec("/x", next(iter(self.installed())))
        self.assertEqual(self.installed(), {})
        self.assertIsNone(self.run_value())
        self.assertFalse(os.path.exists(self.start_menu))
        self.assertEqual(sorted(os.listdir(self.app_dir)), ["Out", "Spool", "Vorlund.ini"])
        for parts, content in data.items():
            with open(self.path(*parts), "rb") as kept:
                self.assertEqual(kept.read(), content)


def main():
    global ARGS
    msi, version, make_msi, wxs, *files = sys.argv[1:]
    ARGS = {"msi": os.path.abspath(msi), "version": version, "make_msi": make_msi,
            "sources": [wxs] + files, "release": os.path.dirname(os.path.abspath(files[0]))}
    program = unittest.main(module=__name__, argv=[sys.argv[0], "-v"], exit=False)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
