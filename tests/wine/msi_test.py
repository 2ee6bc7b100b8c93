"""The MSI under Wine's msiexec, one administrator's day: install it quietly,
find the programs and the licence in Program Files, the programs with their
version resources, and one entry in Programs and Features; run the installed
Model.exe; install another build of the same version (still one entry);
install a newer version over it (one entry left, of the new version); refuse
the older one again; and uninstall by product code, as a script without the
MSI file does, which leaves neither programs nor an entry behind, but the
results Model.txt and Model.log where they were.

The other packages are the same .wxs built again by packaging/windows/msi.cmake,
once as it is (another package code and time: another build) and once with a
higher version.
"""

import os
import re
import subprocess
import tempfile
import unittest
import uuid
import xml.etree.ElementTree as ElementTree

import winimage
from winerun import LOG, RESULTS, WINE_DIR, read, wine

MSI = os.environ["MODEL_MSI"]
WXS = os.environ["MODEL_WXS"]
VERSION = os.environ["MODEL_VERSION"]
UPGRADE_CODE = uuid.UUID(os.environ["MODEL_UPGRADE_CODE"])

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


def build_msi(folder, version, epoch="1000000000"):
    """A package of the .wxs for a version, built as the build builds it,
    at a time of its own."""
    msi = os.path.join(folder, f"{PRODUCT}-{version}-win64.msi")
    subprocess.run([os.environ["MODEL_CMAKE"],
                    "-D", "WIXL=" + os.environ["MODEL_WIXL"],
                    "-D", "PYTHON=" + os.environ["MODEL_PYTHON"],
                    "-D", "WXS=" + WXS, "-D", "OUTPUT=" + msi,
                    "-D", "VERSION=" + version,
                    "-D", "UPGRADE_CODE=" + str(UPGRADE_CODE),
                    "-P", os.environ["MODEL_MSI_SCRIPT"]],
                   check=True, capture_output=True, timeout=120,
                   env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))
    return msi


def product_code(version):
    """What README tells a script to uninstall a version by."""
    return "{%s}" % str(uuid.uuid5(UPGRADE_CODE, version)).upper()


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
            if name.endswith(".exe"):
                info = winimage.version_info(os.path.join(INSTALL_DIR, name))
                self.assertEqual(info["strings"]["FileVersion"], VERSION, name)
        self.assertIn("LICENSE.txt", files)
        self.assertEqual(list(entries().values()), [VERSION])

        if os.path.exists(RESULTS):
            os.remove(RESULTS)
        code, out, err = wine([f"C:\\Program Files\\{PRODUCT}\\Model.exe"])
        self.assertEqual(code, 0, err)
        self.assertRegex(read(RESULTS), rb"^Model = [^\r\n]*\r\n")

        major, minor, patch = VERSION.split(".")
        newer = f"{major}.{minor}.{int(patch) + 1}"
        with tempfile.TemporaryDirectory() as tmp:
            # Another build of this version: the same product, whatever
            # msiexec says to installing it again.
            rebuilt = build_msi(tmp, VERSION)
            self.assertNotEqual(read(rebuilt), read(MSI))
            msiexec("/i", rebuilt)
            self.assertEqual(list(entries().values()), [VERSION])

            newer_msi = build_msi(tmp, newer)
            code, out = msiexec("/i", newer_msi)
            self.assertEqual(code, 0, out)
            self.assertEqual(list(entries().values()), [newer])
            self.assertEqual(sorted(os.listdir(INSTALL_DIR)), files)

            # Windows Installer's "a newer version is already installed".
            code, out = msiexec("/i", MSI)
            self.assertNotEqual(code, 0, out)
            self.assertEqual(list(entries().values()), [newer])

        code, out = msiexec("/x", product_code(newer))
        self.assertEqual(code, 0, out)
        self.assertEqual(entries(), {})
        self.assertFalse(os.path.exists(INSTALL_DIR))
        # Results, not program files.
        self.assertTrue(os.path.exists(RESULTS))
        self.assertTrue(os.path.exists(LOG))


if __name__ == "__main__":
    unittest.main(verbosity=2)
