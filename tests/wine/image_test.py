"""Model.exe as a Windows image: a GUI-subsystem program (no console window)
that needs nothing but DLLs every Windows installation has, and says in its
resources which version it is and that it wants no elevation.

MODEL_SUBSYSTEM (default 2, GUI) and MODEL_MAX_BYTES (the release builds'
size limit) let the same checks serve other programs and builds."""

import os
import re
import subprocess
import unittest

import winimage

EXE = os.environ["MODEL_EXE"]
OBJDUMP = os.environ["MODEL_OBJDUMP"]
VERSION = os.environ["MODEL_VERSION"]
SUBSYSTEM = int(os.environ.get("MODEL_SUBSYSTEM", "2"))
MAX_BYTES = int(os.environ.get("MODEL_MAX_BYTES", "0"))

# The supportedOS entries of Windows 7, 8, 8.1 and 10 (which 11 shares).
SUPPORTED_OS = {
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
    "1f676c76-80e1-4239-95bb-83d0f6d0da78",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",
}

# DLLs of Windows itself. Anything else, libstdc++-6.dll, libgcc_s_seh-1.dll
# or libwinpthread-1.dll above all, would have to be shipped beside the .exe.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "combase.dll", "msvcrt.dll", "ucrtbase.dll",
}


def headers():
    return subprocess.run([OBJDUMP, "-p", EXE], capture_output=True, text=True,
                          check=True).stdout


class ModelImage(unittest.TestCase):

    def test_subsystem(self):
        rows = [r.split() for r in headers().splitlines()
                if r.startswith("Subsystem")]
        self.assertEqual(len(rows), 1, rows)
        self.assertEqual(int(rows[0][1], 16), SUBSYSTEM)

    def test_imports_only_system_dlls(self):
        dlls = {r.split("DLL Name:")[1].strip().lower()
                for r in headers().splitlines() if "DLL Name:" in r}
        foreign = {d for d in dlls
                   if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")}
        self.assertEqual(foreign, set())
        # COM, OLE Automation and (for the GUI program) the message boxes
        # come from these.
        needed = {"ole32.dll", "oleaut32.dll"}
        if SUBSYSTEM == 2:
            needed.add("user32.dll")
        self.assertLessEqual(needed, dlls)

    def test_version_resource(self):
        info = winimage.version_info(EXE)
        self.assertIsNotNone(info, "no VERSIONINFO")
        numbers = tuple(int(n) for n in VERSION.split(".")) + (0,)
        self.assertEqual(info["FileVersion"], numbers)
        self.assertEqual(info["ProductVersion"], numbers)
        strings = info["strings"]
        self.assertEqual(strings.get("FileVersion"), VERSION)
        self.assertEqual(strings.get("ProductVersion"), VERSION)
        self.assertEqual(strings.get("OriginalFilename"),
                         os.path.basename(EXE))
        self.assertEqual(strings.get("ProductName"), "Model")
        self.assertTrue(strings.get("FileDescription"))
        self.assertRegex(strings.get("LegalCopyright", ""),
                         r"^Copyright \(C\) \d{4} The model project")

    def test_manifest(self):
        text = winimage.manifest(EXE)
        self.assertIsNotNone(text, "no application manifest")
        self.assertRegex(text, r'<requestedExecutionLevel level="asInvoker"'
                               r' uiAccess="false"/>')
        self.assertEqual(set(re.findall(r'<supportedOS Id="\{([^}]*)\}"', text)),
                         SUPPORTED_OS)

    @unittest.skipUnless(MAX_BYTES, "no size limit for this build")
    def test_size(self):
        self.assertLess(os.path.getsize(EXE), MAX_BYTES)


if __name__ == "__main__":
    unittest.main(verbosity=2)
