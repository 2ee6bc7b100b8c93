"""The MSI under Wine's msiexec, one administrator's day: install it quietly,
find the programs in Program Files with their version resources and one entry
in Programs and Features, run the installed Model.exe, install a newer build
over it (one entry left, of the new version), refuse the older one again,
and uninstall, which leaves neither files nor an entry behind.

The newer package is the same .wxs built with a higher version (wixl -D).
"""

import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import winimage
from winerun import RESULTS, WINE_DIR, read, wine

MSI = os.environ["MODEL_MSI"]
WXS = os.environ["MODEL_WXS"]
WIXL = os.environ["MODEL_WIXL"]
VERSION = os.environ["MODEL_VERSION"]

PRODUCT = "Model"
INSTALL_DIR = os.path.join(WINE_DIR, "prefix", "drive_c", "Program Files",
                           PRODUCT)
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def packaged_files():
    """The names of the files the package installs, read from the .wxs."""
    namespace = "{http://schemas.microsoft.com/wix/2006/wi}"
    root = ElementTree.parse(WXS).getroot()
    return sorted(f.get("Name") for f in root.iter(namespace + "File"))


def entries():
    """Programs and Features: {product code: DisplayVersion} of every entry
    named like the product."""
    code, out, err = wine(["reg", "query", UNINSTALL_KEY, "/s"])
    if code != 0:
        raise RuntimeError(f"reg query: {code}: {err!r}")
    found, key, values = {}, None, {}
    for line in out.decode("latin-1").splitlines() + [""]:
        if line.startswith("HKEY_"):
            key, values = line.rsplit("\\", 1)[1], {}
        elif line.strip() and key:
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            values[parts[0]] = parts[2] if len(parts) == 3 else ""
        elif key:
            if values.get("DisplayName") == PRODUCT:
                found[key] = values.get("DisplayVersion")
            key = None
    return found


def msiexec(*args):
    code, out, err = wine(["msiexec", *args, "/qn"], timeout=120)
    return code, (out + err).decode("latin-1")


class Installer(unittest.TestCase):

    def setUp(self):
        # A run cut short may have left the product installed.
        for product in entries():
            msiexec("/x", product)

    def test_install_run_upgrade_downgrade_remove(self):
        files = packaged_files()
        self.assertIn("Model.exe", files)

        code, out = msiexec("/i", MSI)
        self.assertEqual(code, 0, out)
        self.assertEqual(sorted(os.listdir(INSTALL_DIR)), files)
        for name in files:
            info = winimage.version_info(os.path.join(INSTALL_DIR, name))
            self.assertEqual(info["strings"]["FileVersion"], VERSION, name)
        self.assertEqual(list(entries().values()), [VERSION])

        if os.path.exists(RESULTS):
            os.remove(RESULTS)
        code, out, err = wine([f"C:\\Program Files\\{PRODUCT}\\Model.exe"])
        self.assertEqual(code, 0, err)
        self.assertRegex(read(RESULTS), rb"^Model = [^\r\n]*\r\n")

        major, minor, patch = VERSION.split(".")
        newer = f"{major}.{minor}.{int(patch) + 1}"
        with tempfile.TemporaryDirectory() as tmp:
            newer_msi = os.path.join(tmp, f"{PRODUCT}-{newer}-win64.msi")
            # wixl finds the programs relative to the .wxs's folder.
            subprocess.run([WIXL, "--arch", "x64", "-D", f"Version={newer}",
                            "--output", newer_msi, os.path.basename(WXS)],
                           cwd=os.path.dirname(WXS), check=True,
                           capture_output=True, timeout=120)
            code, out = msiexec("/i", newer_msi)
            self.assertEqual(code, 0, out)
            self.assertEqual(list(entries().values()), [newer])
            self.assertEqual(sorted(os.listdir(INSTALL_DIR)), files)

            # Windows Installer's "a newer version is already installed".
            code, out = msiexec("/i", MSI)
            self.assertNotEqual(code, 0, out)
            self.assertEqual(list(entries().values()), [newer])

            code, out = msiexec("/x", newer_msi)
            self.assertEqual(code, 0, out)
        self.assertEqual(entries(), {})
        self.assertFalse(os.path.exists(INSTALL_DIR))


if __name__ == "__main__":
    unittest.main(verbosity=2)
